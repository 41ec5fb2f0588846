#include "ReportPreviewWindow.h"

#include "ReportRewrite.h"

#include "Platform/Localization.h"
#include "Platform/SystemLog.h"
#include "VantleFormat.h"
#include "VantleString.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const char* const kWindowTitle = QT_TRANSLATE_NOOP("Localizable", "Report Contents");
const char* const kNameHeader = QT_TRANSLATE_NOOP("Localizable", "File");
const char* const kSizeHeader = QT_TRANSLATE_NOOP("Localizable", "Size");
const char* const kTotalSize = QT_TRANSLATE_NOOP("Localizable", "Total size: %@");
const char* const kFindLabel = QT_TRANSLATE_NOOP("Localizable", "&Find:");
const char* const kFindPrevious = QT_TRANSLATE_NOOP("Localizable", "Find &Previous");
const char* const kFindNext = QT_TRANSLATE_NOOP("Localizable", "Find &Next");
const char* const kNotFound = QT_TRANSLATE_NOOP("Localizable", "Not found");
const char* const kClose = QT_TRANSLATE_NOOP("Localizable", "&Close");
const char* const kListName = QT_TRANSLATE_NOOP("Localizable", "Files in the report");
const char* const kTextName = QT_TRANSLATE_NOOP("Localizable", "Contents of the selected file");
const char* const kFindName = QT_TRANSLATE_NOOP("Localizable", "Find in the selected file");
const char* const kNoReport =
    QT_TRANSLATE_NOOP("Localizable", "There is no report to show yet. Generate a report first.");
const char* const kUnreadable =
    QT_TRANSLATE_NOOP("Localizable", "The report file could not be read. It may have been moved or deleted, "
                                     "or you may not be allowed to read it.");
const char* const kNotZip = QT_TRANSLATE_NOOP(
    "Localizable",
    "The newest file in the report folder is not a zip archive, so it is no report of this tool.");
const char* const kDamaged = QT_TRANSLATE_NOOP(
    "Localizable",
    "The report is damaged and cannot be read completely. Do not send it; generate a new report instead.");
const char* const kUnsupported =
    QT_TRANSLATE_NOOP("Localizable", "The report uses encryption or a kind of compression that this tool "
                                     "cannot read, so it is no report of this tool.");
const char* const kTooLarge = QT_TRANSLATE_NOOP("Localizable", "The report is too large to be shown here.");
const char* const kForeign =
    QT_TRANSLATE_NOOP("Localizable", "This archive has no manifest.json, so it is no report of this tool. "
                                     "Check its files before you send it.");
const char* const kShownPart = QT_TRANSLATE_NOOP("Localizable", "Showing the first %@ of %@.");
const char* const kNotText = QT_TRANSLATE_NOOP("Localizable", "This file is not text and is not shown (%@).");
const char* const kListDescription =
    QT_TRANSLATE_NOOP("Localizable", "Uncheck a file to leave it out of the report before you send it.");
const char* const kLeaveOut = QT_TRANSLATE_NOOP("Localizable", "&Leave Out Unchecked Files…");
// The number of files chooses the form (one file, several).
const char* const kLeaveOutQuestion = QT_TRANSLATE_N_NOOP(
    "Localizable", "Leave these files out of the report?\n\n%@\n\nThe report is written again "
                   "without them, and its summary and manifest.json say that you left them "
                   "out. This cannot be undone.");
const char* const kLeaveOutConfirm = QT_TRANSLATE_NOOP("Localizable", "Leave Out");
const char* const kCancel = QT_TRANSLATE_NOOP("Localizable", "Cancel");
const char* const kLeftOut = QT_TRANSLATE_N_NOOP("Localizable", "The report was written again without: %@");
const char* const kNotRewritten =
    QT_TRANSLATE_NOOP("Localizable", "The report could not be written again; it is unchanged.");

const QString kManifest = QStringLiteral("manifest.json");
const QString kSummary = QStringLiteral("summary.txt");
const QString kNameSeparator = QStringLiteral(", ");

enum Column { NameColumn, SizeColumn };

[[nodiscard]] QString problemMessage(VTZipProblemKind kind) {
    switch (kind) {
    case VTZipProblemKind::Unreadable:
        return vt_localized(kUnreadable);
    case VTZipProblemKind::NotZip:
        return vt_localized(kNotZip);
    case VTZipProblemKind::Unsupported:
        return vt_localized(kUnsupported);
    case VTZipProblemKind::TooLarge:
        return vt_localized(kTooLarge);
    case VTZipProblemKind::Damaged:
        break;
    }
    return vt_localized(kDamaged);
}

[[nodiscard]] QString sizeText(qint64 bytes) {
    return vt_humanReadableSizeStringForBytes(static_cast<uint64_t>(std::max<qint64>(bytes, 0)));
}

// A name as the list shows it: control characters and the marks that reverse the reading direction
// (which can make "exe.txt" look like "txt.exe") are written as escapes, so the name on screen is the
// stored one.
[[nodiscard]] QString visibleName(const QString& name) {
    QString shown;
    for (const QChar c : name) {
        const char16_t unit = c.unicode();
        const bool control = unit < 0x20 || (unit >= 0x7F && unit < 0xA0);
        const bool direction = (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069) ||
                               unit == 0x200E || unit == 0x200F || unit == 0x061C;
        if (control || direction)
            shown += (control ? QStringLiteral("\\x") : QStringLiteral("\\u")) +
                     QString::number(unit, 16).toUpper().rightJustified(control ? 2 : 4, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace

ReportPreviewWindow::ReportPreviewWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(vt_localized(kWindowTitle));
    setObjectName(QStringLiteral("reportPreviewWindow"));
    buildControls();
    setUpKeyboard();
    resize(880, 560);
}

ReportPreviewWindow::~ReportPreviewWindow() = default;

void ReportPreviewWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);

    reportNameField_ = new QLabel(this);
    reportNameField_->setObjectName(QStringLiteral("reportNameField"));
    reportNameField_->setTextFormat(Qt::PlainText);
    reportNameField_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = reportNameField_->font();
    bold.setBold(true);
    reportNameField_->setFont(bold);
    totalSizeField_ = new QLabel(this);
    totalSizeField_->setObjectName(QStringLiteral("totalSizeField"));
    totalSizeField_->setTextFormat(Qt::PlainText);
    messageField_ = new QLabel(this);
    messageField_->setObjectName(QStringLiteral("messageField"));
    messageField_->setTextFormat(Qt::PlainText);
    messageField_->setWordWrap(true);
    messageField_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(reportNameField_);
    layout->addWidget(totalSizeField_);
    layout->addWidget(messageField_);

    memberList_ = new QTreeWidget(this);
    memberList_->setObjectName(QStringLiteral("memberList"));
    memberList_->setAccessibleName(vt_localized(kListName));
    memberList_->setAccessibleDescription(vt_localized(kListDescription));
    memberList_->setColumnCount(2);
    memberList_->setHeaderLabels({vt_localized(kNameHeader), vt_localized(kSizeHeader)});
    memberList_->setRootIsDecorated(false);
    memberList_->setUniformRowHeights(true);
    memberList_->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    memberList_->header()->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
    memberList_->header()->setStretchLastSection(false);

    auto* textColumn = new QWidget(this);
    auto* textLayout = new QVBoxLayout(textColumn);
    textLayout->setContentsMargins(0, 0, 0, 0);
    memberNoteField_ = new QLabel(textColumn);
    memberNoteField_->setObjectName(QStringLiteral("memberNoteField"));
    memberNoteField_->setTextFormat(Qt::PlainText);
    memberNoteField_->setWordWrap(true);
    textView_ = new QPlainTextEdit(textColumn);
    textView_->setObjectName(QStringLiteral("textView"));
    textView_->setAccessibleName(vt_localized(kTextName));
    textView_->setReadOnly(true);
    textView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    textView_->setTabChangesFocus(true);
    textView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    textLayout->addWidget(memberNoteField_);
    textLayout->addWidget(textView_);

    contents_ = new QSplitter(Qt::Horizontal, this);
    contents_->addWidget(memberList_);
    contents_->addWidget(textColumn);
    contents_->setStretchFactor(1, 3);
    contents_->setSizes({260, 620});
    layout->addWidget(contents_, 1);

    findBar_ = new QWidget(this);
    auto* findLayout = new QHBoxLayout(findBar_);
    findLayout->setContentsMargins(0, 0, 0, 0);
    auto* findLabel = new QLabel(vt_localized(kFindLabel), findBar_);
    findField_ = new QLineEdit(findBar_);
    findField_->setObjectName(QStringLiteral("findField"));
    findField_->setAccessibleName(vt_localized(kFindName));
    findField_->setClearButtonEnabled(true);
    findLabel->setBuddy(findField_);
    auto* previous = new QPushButton(vt_localized(kFindPrevious), findBar_);
    auto* next = new QPushButton(vt_localized(kFindNext), findBar_);
    findStatusField_ = new QLabel(findBar_);
    findStatusField_->setObjectName(QStringLiteral("findStatusField"));
    findStatusField_->setTextFormat(Qt::PlainText);
    findLayout->addWidget(findLabel);
    findLayout->addWidget(findField_, 1);
    findLayout->addWidget(previous);
    findLayout->addWidget(next);
    findLayout->addWidget(findStatusField_);
    layout->addWidget(findBar_);

    auto* buttons = new QDialogButtonBox(this);
    leaveOutButton_ = buttons->addButton(vt_localized(kLeaveOut), QDialogButtonBox::ActionRole);
    leaveOutButton_->setObjectName(QStringLiteral("leaveOutButton"));
    QPushButton* close = buttons->addButton(vt_localized(kClose), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);

    // No button takes Enter: it belongs to the find field (and must not close the window by surprise).
    for (QPushButton* button : {previous, next, leaveOutButton_, close}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(previous, &QPushButton::clicked, this, [this] { findMatch(true); });
    connect(next, &QPushButton::clicked, this, [this] { findMatch(false); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(leaveOutButton_, &QPushButton::clicked, this, &ReportPreviewWindow::leaveOutUncheckedFiles);
    connect(memberList_, &QTreeWidget::itemChanged, this,
            [this] { leaveOutButton_->setEnabled(!uncheckedRows().isEmpty()); });
    connect(memberList_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { showMember(memberList_->indexOfTopLevelItem(item)); });
    // Typing searches from where the current match starts, so the match grows with the word.
    connect(findField_, &QLineEdit::textEdited, this, [this] {
        QTextCursor cursor = textView_->textCursor();
        cursor.setPosition(cursor.selectionStart());
        textView_->setTextCursor(cursor);
        findMatch(false);
    });
}

void ReportPreviewWindow::setUpKeyboard() {
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        findField_->setFocus(Qt::ShortcutFocusReason);
        findField_->selectAll();
    });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this,
            [this] { findMatch(false); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            [this] { findMatch(true); });
    findField_->installEventFilter(this);
}

bool ReportPreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == findField_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            findMatch(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ReportPreviewWindow::showReport(const std::optional<QString>& path) {
    reportPath_ = path;
    archive_.reset();
    memberList_->clear();
    textView_->clear();
    memberNoteField_->hide();
    findStatusField_->clear();
    reportNameField_->setText(path ? QFileInfo(*path).fileName() : QString());
    if (!path) {
        showProblem(vt_localized(kNoReport));
        return;
    }
    VTZipArchive::Opened opened = VTZipArchive::open(*path);
    if (const auto* problem = std::get_if<VTZipProblem>(&opened)) {
        vt_systemLogFormat("The report %@ cannot be previewed: %@", *path, problem->detail);
        showProblem(problemMessage(problem->kind));
        return;
    }
    archive_ = std::move(std::get<VTZipArchive>(opened));

    totalSizeField_->setText(vt_format(vt_localized(kTotalSize), sizeText(archive_->archiveSize())));
    totalSizeField_->show();
    contents_->show();
    findBar_->show();
    // Only a report of this tool can record in its manifest which files were left out.
    const bool hasManifest = std::any_of(archive_->members().cbegin(), archive_->members().cend(),
                                         [](const VTZipMember& member) { return member.name == kManifest; });
    int firstRow = 0;
    memberList_->blockSignals(true); // the rows come in checked: no change to tell about
    for (const VTZipMember& member : archive_->members()) {
        auto* item = new QTreeWidgetItem(memberList_, {visibleName(member.name), sizeText(member.size)});
        item->setData(SizeColumn, Qt::UserRole, member.size);
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        if (hasManifest && !vt_reportFileIsRequired(member.name))
            item->setCheckState(NameColumn, Qt::Checked);
        if (member.name == kSummary)
            firstRow = memberList_->indexOfTopLevelItem(item);
    }
    memberList_->blockSignals(false);
    leaveOutButton_->setVisible(hasManifest);
    leaveOutButton_->setEnabled(false);
    messageField_->setText(hasManifest ? QString() : vt_localized(kForeign));
    messageField_->setVisible(!hasManifest);
    if (memberList_->topLevelItemCount() > 0)
        memberList_->setCurrentItem(memberList_->topLevelItem(firstRow));
    memberList_->setFocus(Qt::OtherFocusReason);
}

void ReportPreviewWindow::showProblem(const QString& message) {
    messageField_->setText(message);
    messageField_->show();
    totalSizeField_->hide();
    contents_->hide();
    findBar_->hide();
    leaveOutButton_->hide();
}

QList<qsizetype> ReportPreviewWindow::uncheckedRows() const {
    QList<qsizetype> rows;
    for (int row = 0; row < memberList_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = memberList_->topLevelItem(row);
        if (item->data(NameColumn, Qt::CheckStateRole).isValid() &&
            item->checkState(NameColumn) == Qt::Unchecked)
            rows << row;
    }
    return rows;
}

void ReportPreviewWindow::leaveOutUncheckedFiles() {
    const QList<qsizetype> rows = uncheckedRows();
    if (!archive_ || !reportPath_ || rows.isEmpty())
        return;
    QStringList names;
    for (const qsizetype row : rows)
        names << visibleName(archive_->members().at(row).name);
    QMessageBox question(
        QMessageBox::Question, vt_localized(kWindowTitle),
        vt_format(vt_localized(kLeaveOutQuestion, int(names.size())), names.join(QLatin1Char('\n'))),
        QMessageBox::NoButton, this);
    question.setTextFormat(Qt::PlainText);
    QPushButton* confirm = question.addButton(vt_localized(kLeaveOutConfirm), QMessageBox::AcceptRole);
    question.setDefaultButton(question.addButton(vt_localized(kCancel), QMessageBox::RejectRole));
    question.exec();
    if (question.clickedButton() != confirm)
        return;
    const QString path = *reportPath_;
    if (const std::optional<QString> failure =
            vt_rewriteReportWithout(path, *archive_, QSet<qsizetype>(rows.cbegin(), rows.cend()))) {
        vt_systemLogFormat("The report %@ could not be written again: %@", path, *failure);
        QMessageBox::warning(this, vt_localized(kWindowTitle), vt_localized(kNotRewritten));
        return;
    }
    showReport(path);
    messageField_->setText(vt_format(vt_localized(kLeftOut, int(names.size())), names.join(kNameSeparator)));
    messageField_->show();
}

void ReportPreviewWindow::showMember(int row) {
    textView_->clear();
    memberNoteField_->hide();
    findStatusField_->clear();
    if (!archive_ || row < 0 || row >= archive_->members().size())
        return;
    const qint64 size = archive_->members().at(row).size;
    VTZipArchive::Read read = archive_->memberData(row, kShownBytes);
    QString note;
    if (const auto* problem = std::get_if<VTZipProblem>(&read)) {
        vt_systemLogFormat("A file of the report cannot be previewed: %@", problem->detail);
        note = problemMessage(problem->kind);
    } else {
        const VTZipMemberData& data = std::get<VTZipMemberData>(read);
        if (data.bytes.contains('\0')) {
            note = vt_format(vt_localized(kNotText), sizeText(size));
        } else {
            textView_->setPlainText(vt_utf8stringWithData(data.bytes).value_or(QString()));
            if (!data.complete)
                note = vt_format(vt_localized(kShownPart), sizeText(data.bytes.size()), sizeText(size));
        }
    }
    memberNoteField_->setText(note);
    memberNoteField_->setVisible(!note.isEmpty());
}

void ReportPreviewWindow::findMatch(bool backwards) {
    const QString wanted = findField_->text();
    findStatusField_->clear();
    if (wanted.isEmpty())
        return;
    const QTextDocument::FindFlags flags =
        backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (textView_->find(wanted, flags))
        return;
    // Wrap around: search again from the other end, and put the cursor back if that finds nothing too.
    const QTextCursor before = textView_->textCursor();
    QTextCursor from(textView_->document());
    from.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
    textView_->setTextCursor(from);
    if (textView_->find(wanted, flags))
        return;
    textView_->setTextCursor(before);
    findStatusField_->setText(vt_localized(kNotFound));
}

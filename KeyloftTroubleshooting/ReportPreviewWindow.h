#pragma once

// The report preview: a window that lists the files inside the report with their sizes and shows the
// selected file's text, read-only and in a fixed-width font, with find, and the report's total size.
// It reads the report's own bytes once per showReport; a report that is gone, damaged or no zip archive
// gives a message in the window (the technical reason goes to the system log).
//
// What it reads is bounded (see VTZipArchive): the text shown of one file is at most kShownBytes, with a
// note when the file is longer; a file that holds zero bytes (not text) is named but not shown.
//
// Leaving files out: in a report of this tool (one with a manifest.json) every file but the manifest and
// the summary has a check box; "Leave Out Unchecked Files…" asks once more and then writes the report
// again without them (see ReportRewrite.h), and shows the new report.
//
// Keyboard: the file list has the focus when the window opens, with summary.txt (else the first file)
// selected; Tab goes on to the text, the find field, its buttons, Leave Out and Close; Space checks or
// unchecks the selected file. Ctrl+F goes to the find field, Enter there (or F3) finds the next match and
// Shift+Enter (or Shift+F3) the previous one, both wrapping around; Escape closes the window. Every control
// has an accessible name.
//
// A top-level window owned by its parent widget; main thread only.

#include "ZipArchive.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTreeWidget;

class ReportPreviewWindow : public QDialog {
    Q_OBJECT
public:
    // The most bytes of one file shown as text (the report's largest file is a fraction of it).
    static constexpr qint64 kShownBytes = qint64(2) << 20;

    explicit ReportPreviewWindow(QWidget* parent = nullptr);
    ~ReportPreviewWindow() override;

    // Reads the report at path and shows its files, or the message that says why it cannot; absent
    // path: there is no report. Replaces whatever was shown before. Blocks while the report is read.
    void showReport(const std::optional<QString>& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void setUpKeyboard();
    // The window with no report content and this message.
    void showProblem(const QString& message);
    // The file at row of the list in the text view (or the note that says why not).
    void showMember(int row);
    // Moves the selection in the text view to the next (or previous) match, wrapping around.
    void findMatch(bool backwards);
    // The rows of the files the user unchecked.
    [[nodiscard]] QList<qsizetype> uncheckedRows() const;
    // After the user confirms, writes the report again without the unchecked files and shows the result.
    void leaveOutUncheckedFiles();

    std::optional<QString> reportPath_;
    std::optional<VTZipArchive> archive_;
    QLabel* reportNameField_ = nullptr;
    QLabel* totalSizeField_ = nullptr;
    QLabel* messageField_ = nullptr;
    QSplitter* contents_ = nullptr;
    QTreeWidget* memberList_ = nullptr;
    QLabel* memberNoteField_ = nullptr;
    QPlainTextEdit* textView_ = nullptr;
    QWidget* findBar_ = nullptr;
    QLineEdit* findField_ = nullptr;
    QLabel* findStatusField_ = nullptr;
    QPushButton* leaveOutButton_ = nullptr;
};

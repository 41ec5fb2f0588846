// The report icon for assistive technology: its accessible interface, its name and its description.

#include "DraggableFileImageView.h"

#include "Platform/Localization.h"
#include "VantleFormat.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <mutex>

namespace {

// The view as assistive technology sees it: a push button whose press action is the view's click.
class AccessibleFileImage : public QAccessibleWidget {
public:
    explicit AccessibleFileImage(DraggableFileImageView* view)
        : QAccessibleWidget(view, QAccessible::Button) {}

    [[nodiscard]] QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    [[nodiscard]] QStringList keyBindingsForAction(const QString& actionName) const override {
        if (actionName == pressAction())
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(actionName);
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            static_cast<DraggableFileImageView*>(widget())->activate();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface* accessibleFileImageFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("DraggableFileImageView") || object == nullptr || !object->isWidgetType())
        return nullptr;
    return new AccessibleFileImage(static_cast<DraggableFileImageView*>(object));
}

} // namespace

void DraggableFileImageView::setUpAccessibility() {
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled, [] { QAccessible::installFactory(accessibleFileImageFactory); });
    setAccessibleName(vt_localized(QT_TRANSLATE_NOOP("Localizable", "Report")));
}

void DraggableFileImageView::describeForAssistiveTechnology() {
    // Without a file name the view stands for nothing that can be copied: keep what the owner said.
    if (fileName_.isEmpty())
        return;
    setAccessibleDescription(vt_format(
        vt_localized(QT_TRANSLATE_NOOP("Localizable",
                                       "The file %@. Enter or Space shows it, Ctrl+C copies it, "
                                       "and dragging it into another application copies it there.")),
        fileName_));
}

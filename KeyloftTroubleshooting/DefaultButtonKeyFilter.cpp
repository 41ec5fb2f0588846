#include "DefaultButtonKeyFilter.h"

#include <QKeyEvent>

DefaultButtonKeyFilter::DefaultButtonKeyFilter(QWidget* window, QPushButton* button)
    : QObject(window), button_(button) {}

DefaultButtonKeyFilter* DefaultButtonKeyFilter::install(QWidget* window, QPushButton* button) {
    button->setDefault(true);
    auto* filter = new DefaultButtonKeyFilter(window, button);
    window->installEventFilter(filter);
    button->installEventFilter(filter);
    return filter;
}

void DefaultButtonKeyFilter::followButtonState() {
    if (button_->isEnabled()) {
        button_->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The button is disabled by its own press, which it received with the focus or through the window
    // with nothing focused; a control that holds the focus now was handed it by the disabling. The
    // window keeps the focus instead.
    if (QWidget* next = button_->window()->focusWidget(); next != nullptr && next != button_)
        next->clearFocus();
}

bool DefaultButtonKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange && watched == button_)
        followButtonState();
    // Key presses reach the window only when the focused control (or nothing) left them unused.
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!enter || !plain || button_ == nullptr)
        return QObject::eventFilter(watched, event);
    // The focused button clicks itself on Enter; held down, it would click at every repeat.
    if (watched == button_)
        return key->isAutoRepeat();
    if (!button_->isEnabled() || !button_->isVisible())
        return QObject::eventFilter(watched, event);
    if (!key->isAutoRepeat())
        button_->click();
    return true;
}

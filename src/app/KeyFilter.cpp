#include "app/KeyFilter.h"

#include <QKeyEvent>
#include <QWidget>

KeyFilter::KeyFilter(QWidget* window)
    : m_window(window)
{
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != m_window && !m_window->isAncestorOf(widget)))
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    return !(key->modifiers() & Qt::AltModifier);
}

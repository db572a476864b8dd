#include "app/DialogTemplate.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

DialogTemplate::DialogTemplate(const QFont& font)
{
    const QFontMetricsF metrics(font);
    // The platform's average width is that of the 52 Latin letters.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_unitX = metrics.horizontalAdvance(letters) / 52.0 / 4.0;
    m_unitY = metrics.height() / 8.0;
}

QRect DialogTemplate::toPixels(int x, int y, int w, int h) const
{
    const int left = int(std::lround(x * m_unitX));
    const int top = int(std::lround(y * m_unitY));
    const int right = int(std::lround((x + w) * m_unitX));
    const int bottom = int(std::lround((y + h) * m_unitY));
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogTemplate::sizeToPixels(int w, int h) const
{
    return toPixels(0, 0, w, h).size();
}

QFont DialogTemplate::dialogFont(int pointSize)
{
    const QString songTi = QStringLiteral("宋体");
    if (QFont::substitutes(songTi).isEmpty())
        QFont::insertSubstitutions(songTi, {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("WenQuanYi Zen Hei"),
                                            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK")});
    QFont font(songTi, pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void DialogTemplate::nameControl(QWidget* widget, int id)
{
    const QString name = QStringLiteral("id%1").arg(id);
    widget->setObjectName(name);
    widget->setAccessibleDescription(name);
}

namespace {

QWidget* makeWidget(const ControlSpec& spec, QWidget* parent)
{
    using Kind = ControlSpec::Kind;
    switch (spec.kind) {
    case Kind::Label: {
        auto* label = new QLabel(spec.text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case Kind::Button:
    case Kind::FlatButton:
    case Kind::DefaultButton: {
        auto* button = new QPushButton(spec.text, parent);
        button->setAutoDefault(false);
        button->setDefault(spec.kind == Kind::DefaultButton);
        return button;
    }
    case Kind::Edit: {
        auto* edit = new QLineEdit(spec.text, parent);
        edit->setReadOnly(true);
        return edit;
    }
    case Kind::Progress: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case Kind::Picture:
    case Kind::Icon:
        return new QLabel(parent);
    case Kind::Group:
        return new QGroupBox(spec.text, parent);
    case Kind::Combo: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        return combo;
    }
    }
    return nullptr;
}

} // namespace

QWidget* DialogTemplate::create(const ControlSpec& spec, QWidget* parent, QPoint origin) const
{
    QWidget* widget = makeWidget(spec, parent);
    QRect rect = toPixels(spec.x, spec.y, spec.w, spec.h).translated(origin);
    if (spec.kind == ControlSpec::Kind::Combo) // the height is that of the drop list
        rect.setHeight(widget->sizeHint().height());
    widget->setGeometry(rect);
    if (spec.id != 0)
        nameControl(widget, spec.id);
    widget->setVisible(!spec.hidden);
    return widget;
}

std::vector<QWidget*> DialogTemplate::createAll(const std::vector<ControlSpec>& specs, QWidget* parent,
                                                QPoint origin) const
{
    std::vector<QWidget*> widgets;
    widgets.reserve(specs.size());
    for (const ControlSpec& spec : specs)
        widgets.push_back(create(spec, parent, origin));
    return widgets;
}

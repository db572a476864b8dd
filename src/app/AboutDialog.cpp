#include "app/AboutDialog.h"

#include "app/DialogTemplate.h"

#include <QLabel>
#include <QPushButton>

namespace {
using K = ControlSpec::Kind;
const std::vector<ControlSpec>& aboutTemplate()
{
    static const std::vector<ControlSpec> controls = {
        {K::Icon, 0, QString(), 11, 17, 20, 20},
        {K::Label, 1098, QString(), 37, 14, 137, 8},
        {K::DefaultButton, 1, QStringLiteral("OK"), 178, 7, 50, 14},
        {K::Label, 0, QStringLiteral("Vintrel station tool. All rights reserved."), 43, 37, 153, 8},
    };
    return controls;
}
constexpr int kWidth = 235;
constexpr int kHeight = 64;
constexpr int kFontPoints = 9;
} // namespace

AboutDialog::AboutDialog(const QIcon& icon, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setFont(DialogTemplate::dialogFont(kFontPoints));
    const DialogTemplate layout(font());
    const std::vector<QWidget*> widgets = layout.createAll(aboutTemplate(), this);
    auto* picture = qobject_cast<QLabel*>(widgets[0]);
    picture->setPixmap(icon.pixmap(picture->size()));
    auto* version = qobject_cast<QLabel*>(widgets[1]);
    version->setTextFormat(Qt::PlainText);
    version->setText(QStringLiteral("Vintrel_RT40K_USV1.00.00"));
    auto* ok = qobject_cast<QPushButton*>(widgets[2]);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(layout.sizeToPixels(kWidth, kHeight));
}

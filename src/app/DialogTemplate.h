#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>

#include <vector>

class QWidget;

// One control of a dialog template, placed in dialog units.
struct ControlSpec
{
    enum class Kind { Label, Button, FlatButton, DefaultButton, Edit, Progress, Picture, Group, Combo, Icon };

    Kind kind;
    int id;           // control identifier; 0 for controls without one
    QString text;     // template text
    int x, y, w, h;   // dialog units
    bool hidden = false;
};

// Turns a table of ControlSpec into widgets, converting dialog units to
// pixels from the dialog font the way the original platform does: one
// horizontal unit is a quarter of the average character width, one vertical
// unit an eighth of the character height.
class DialogTemplate final
{
public:
    explicit DialogTemplate(const QFont& font);

    QRect toPixels(int x, int y, int w, int h) const;
    QSize sizeToPixels(int w, int h) const;

    // Creates the control as a child of parent, offset by origin (pixels).
    // Controls with an identifier get the object name and accessible
    // description "id<identifier>" so that automation finds them.
    QWidget* create(const ControlSpec& spec, QWidget* parent, QPoint origin = {}) const;
    std::vector<QWidget*> createAll(const std::vector<ControlSpec>& specs, QWidget* parent,
                                    QPoint origin = {}) const;

    // The station's dialog fonts: "宋体" maps to an installed CJK font.
    static QFont dialogFont(int pointSize);
    static void nameControl(QWidget* widget, int id);

private:
    double m_unitX;
    double m_unitY;
};

// The main window's side of the view's tools: their settings follow the edit
// panels' widgets and the Auto drop toggle.
#include "app/frmmain.h"

#include "view/glviewer.h"

#include <QCheckBox>
#include <QDoubleSpinBox>

void FrmMain::connectTools()
{
    ToolSettings &s = m_viewer->tools().settings;
    auto follow = [this](const char *name, auto apply) {
        if (auto *c = findChild<QCheckBox *>(name)) {
            apply(double(c->isChecked()));
            connect(c, &QCheckBox::toggled, this, [apply](bool on) { apply(double(on)); });
        } else if (auto *d = findChild<QDoubleSpinBox *>(name)) {
            apply(d->value());
            connect(d, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, apply);
        }
    };
    follow("chAngleSnap", [&s](double v) { s.angleSnapOn = v != 0; });
    follow("seAngleSnap", [&s](double v) { s.angleSnap = float(v); });
    follow("chUniform", [&s](double v) { s.uniformScale = v != 0; });
    follow("seBarSize", [&s](double v) { s.barSize = float(v); });
    follow("seSteepness", [&s](double v) { s.steepness = float(v); });
    // The view's own keypad handling (when no key filter took the key) moves the spin box too.
    connect(&m_viewer->tools(), &ViewTools::barSizeChanged, this, [this](float size) {
        if (auto *d = findChild<QDoubleSpinBox *>("seBarSize"))
            d->setValue(double(size));
    });
    s.autoDrop = m_autoDrop;
    connect(&m_timer, &QTimer::timeout, this, [this] { m_viewer->tools().settings.autoDrop = m_autoDrop; });
}

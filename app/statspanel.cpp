#include "app/statspanel.h"

#include "gcode/gcodesim.h"

StatsPanel::StatsPanel(QWidget *parent) : QLabel(parent)
{
    setObjectName("pStats");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setStyleSheet("QLabel { background-color: rgba(20, 22, 28, 200); color: white; border: 1px solid #888;"
                  " padding: 6px; }");
}

void StatsPanel::refresh(const GCodeSim &sim, const QString &prices)
{
    if (sim.moves().empty()) {
        setText("No G-code");
    } else {
        // The multi-line form uses CR LF; a label breaks lines at LF alone.
        QString text = sim.statsText(true, prices);
        text.replace("\r\n", "\n");
        setText(text);
    }
    adjustSize();
    place();
}

void StatsPanel::place()
{
    if (QWidget *p = parentWidget())
        move(12, p->height() - height() - 40);
}

#pragma once
// The statistics panel over the view in G-code mode: the multi-line
// statistics of the G-code on show (time, finish, filament length, travel
// share, one cost line per filament price).
#include <QLabel>

class GCodeSim;

class StatsPanel : public QLabel {
    Q_OBJECT
public:
    explicit StatsPanel(QWidget *parent = nullptr);
    // `prices`: the price list setting ("PLA=0.091; ABS=0.075", per metre).
    void refresh(const GCodeSim &sim, const QString &prices);
    // Keeps the panel at the lower left corner of its parent.
    void place();
};

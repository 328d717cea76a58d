// Charts of the results view, built from the plain chart data of the core, and their saving
// as pictures.
#pragma once

#include "oruk/core/resultcharts.hpp"

#include <QString>

class QChart;
class QWidget;

namespace oruk {

// A chart of data: one line series per line, or a bar series; axes named and ranged.
QChart* buildChart(const ChartData& data);

// Saves widget (a chart view) as a picture: SVG when path ends in ".svg", otherwise PNG of
// scale times the widget's size (drawn at that resolution, not enlarged). False with error set
// when the file cannot be written.
bool savePicture(QWidget* widget, const QString& path, QString* error, double scale = 1.0);

} // namespace oruk

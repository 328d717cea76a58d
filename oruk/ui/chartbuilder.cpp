#include "oruk/ui/chartbuilder.hpp"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QColor>
#include <QFileInfo>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QSvgGenerator>
#include <QValueAxis>
#include <QWidget>

#include <algorithm>

namespace oruk {

namespace {

// More lines than this get no legend: it would hide the plot.
constexpr std::size_t kMostLegendEntries = 10;

QValueAxis* valueAxis(const QString& title) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    return axis;
}

void rangeY(QValueAxis* axis, const ChartData& data) {
    if (data.yRange) {
        axis->setRange(data.yRange->first, data.yRange->second);
        return;
    }
    double low = 0, high = 0;
    bool any = false;
    for (const Curve& line : data.lines) {
        for (const QPointF& p : line.points) {
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            any = true;
        }
    }
    if (!any) return;
    const double margin = high > low ? (high - low) * 0.05 : 1.0;
    axis->setRange(low - margin, high + margin);
    axis->applyNiceNumbers();
}

} // namespace

QChart* buildChart(const ChartData& data) {
    auto* chart = new QChart;
    chart->setTitle(data.title);
    chart->setAnimationOptions(QChart::NoAnimation);
    if (data.kind == ChartData::Kind::Bars) {
        auto* set = new QBarSet(data.yTitle);
        for (double value : data.bars) *set << value;
        auto* series = new QBarSeries;
        series->append(set);
        series->setLabelsVisible(true);
        series->setLabelsFormat(QStringLiteral("@value"));
        series->setLabelsPrecision(3);
        chart->addSeries(series);
        auto* x = new QBarCategoryAxis;
        x->append(data.categories);
        x->setTitleText(data.xTitle);
        QValueAxis* y = valueAxis(data.yTitle);
        rangeY(y, data);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(x);
        series->attachAxis(y);
        chart->legend()->hide();
        return chart;
    }

    QAbstractAxis* x = nullptr;
    if (!data.categories.isEmpty()) {
        // Item names under their positions 1, 2, ...
        auto* named = new QCategoryAxis;
        named->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        for (qsizetype j = 0; j < data.categories.size(); ++j)
            named->append(data.categories[j], double(j + 1));
        named->setRange(0.5, double(data.categories.size()) + 0.5);
        named->setTitleText(data.xTitle);
        x = named;
    } else {
        auto* plain = valueAxis(data.xTitle);
        double low = 0, high = 1;
        bool any = false;
        for (const Curve& line : data.lines) {
            for (const QPointF& p : line.points) {
                low = any ? std::min(low, p.x()) : p.x();
                high = any ? std::max(high, p.x()) : p.x();
                any = true;
            }
        }
        plain->setRange(low, high > low ? high : low + 1);
        if (data.wholeX) {
            plain->applyNiceNumbers();
            plain->setLabelFormat(QStringLiteral("%.0f"));
        }
        x = plain;
    }
    QValueAxis* y = valueAxis(data.yTitle);
    rangeY(y, data);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto addLines = [&](const std::vector<Curve>& lines, QValueAxis* against, Qt::PenStyle style) {
        for (const Curve& line : lines) {
            auto* series = new QLineSeries;
            series->setName(line.name);
            for (const QPointF& p : line.points) series->append(p);
            // Few points (a class profile) are marked so that each item's value can be seen.
            series->setPointsVisible(line.points.size() <= 40);
            chart->addSeries(series);
            if (style != Qt::SolidLine) {
                // After the theme has coloured it; a colour of its own beside the first line.
                QPen pen = series->pen();
                pen.setStyle(style);
                pen.setColor(QColor(0xd0, 0x4a, 0x02));
                pen.setWidthF(2.0);
                series->setPen(pen);
            }
            series->attachAxis(x);
            series->attachAxis(against);
        }
    };
    addLines(data.lines, y, Qt::SolidLine);
    if (!data.rightLines.empty()) {
        // A second measure (a standard error) on its own scale, dashed.
        ChartData right;
        right.lines = data.rightLines;
        QValueAxis* y2 = valueAxis(data.yRightTitle);
        rangeY(y2, right);
        chart->addAxis(y2, Qt::AlignRight);
        addLines(data.rightLines, y2, Qt::DashLine);
    }
    const std::size_t lines = data.lines.size() + data.rightLines.size();
    chart->legend()->setVisible(lines > 1 && lines <= kMostLegendEntries);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

bool savePicture(QWidget* widget, const QString& path, QString* error, double scale) {
    const QSize size = widget->size();
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("oruk plot"));
        QPainter painter;
        if (!painter.begin(&svg)) {
            if (error) *error = QStringLiteral("\"%1\" cannot be written.").arg(path);
            return false;
        }
        widget->render(&painter);
        painter.end();
        if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) {
            if (error) *error = QStringLiteral("\"%1\" cannot be written.").arg(path);
            return false;
        }
        return true;
    }
    const double ratio = scale > 0 ? scale : 1.0;
    QImage image(QSize(qRound(size.width() * ratio), qRound(size.height() * ratio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    widget->render(&painter);
    painter.end();
    image.setDevicePixelRatio(1.0);
    if (image.save(path, "PNG")) return true;
    if (error) *error = QStringLiteral("\"%1\" cannot be written.").arg(path);
    return false;
}

} // namespace oruk

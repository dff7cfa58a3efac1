#ifndef TRENDWINDOW_H
#define TRENDWINDOW_H

#include "trendseries.h"

#include <QDialog>
#include <memory>

class TrendChart;

// A small window plotting the temperature and current of the session over
// time, following new status reads as they come, with a CSV export.
class TrendWindow : public QDialog
{
    Q_OBJECT
public:
    explicit TrendWindow(const TrendSeries *series, QWidget *parent = nullptr);
    // Opens the window (one, made on first use) from `box`'s context menu
    // and on a double-click in `box`.
    static void openFrom(QWidget *box, const TrendSeries *series);
    ~TrendWindow() override;

private slots:
    void exportCsv();

private:
    const TrendSeries *series;
    std::unique_ptr<TrendChart> chart;
};

#endif

#include "trendwindow.h"

#include <QChartView>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>

// Qt 5 keeps the chart classes in a namespace of their own; Qt 6 does not.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

// The chart's series and axes; the chart view owns them all.
class TrendChart
{
public:
    TrendChart()
    {
        chart->legend()->setAlignment(Qt::AlignBottom);
        time->setFormat("HH:mm:ss");
        time->setTitleText("Time");
        temperatureAxis->setTitleText(QString::fromUtf8("Temperature (°C)"));
        currentAxis->setTitleText("Current (A)");
        temperature->setName("Temperature");
        current->setName("Current");
        chart->addAxis(time, Qt::AlignBottom);
        chart->addAxis(temperatureAxis, Qt::AlignLeft);
        chart->addAxis(currentAxis, Qt::AlignRight);
        attach(temperature, temperatureAxis);
        attach(current, currentAxis);
        view->setRenderHint(QPainter::Antialiasing);
    }

    void add(const TrendSeries::Sample &sample)
    {
        const qreal x = qreal(sample.time.toMSecsSinceEpoch());
        temperature->append(x, sample.temperature);
        current->append(x, sample.current);
    }

    // Keeps the plotted points to those the series still holds, and every
    // point in view.
    void follow(const TrendSeries &series)
    {
        const int excess = temperature->count() - int(series.samples().size());
        if (excess > 0) {
            temperature->removePoints(0, excess);
            current->removePoints(0, excess);
        }
        if (series.samples().empty())
            return;
        time->setRange(series.samples().front().time, series.samples().back().time);
        fit(temperatureAxis, temperature);
        fit(currentAxis, current);
    }

    QChart *chart = new QChart;
    QChartView *view = new QChartView(chart);

private:
    void attach(QLineSeries *series, QValueAxis *axis)
    {
        chart->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(axis);
    }

    static void fit(QValueAxis *axis, const QLineSeries *series)
    {
        qreal low = series->at(0).y();
        qreal high = low;
        for (const QPointF &point : series->points()) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
        const qreal margin = std::max((high - low) * 0.1, 0.05);
        axis->setRange(low - margin, high + margin);
        axis->applyNiceNumbers();
    }

    QDateTimeAxis *time = new QDateTimeAxis;
    QValueAxis *temperatureAxis = new QValueAxis;
    QValueAxis *currentAxis = new QValueAxis;
    QLineSeries *temperature = new QLineSeries;
    QLineSeries *current = new QLineSeries;
};

TrendWindow::TrendWindow(const TrendSeries *series, QWidget *parent)
    : QDialog(parent), series(series), chart(std::make_unique<TrendChart>())
{
    setWindowTitle("Temperature and Current");
    resize(640, 400);
    auto *exportButton = new QPushButton(QString::fromUtf8("Export CSV…"));
    exportButton->setObjectName("exportCsvButton");
    connect(exportButton, &QPushButton::clicked, this, &TrendWindow::exportCsv);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(chart->view);
    layout->addLayout(buttons);

    for (const TrendSeries::Sample &sample : series->samples())
        chart->add(sample);
    chart->follow(*series);
    connect(series, &TrendSeries::appended, this, [this](const TrendSeries::Sample &sample) {
        chart->add(sample);
        chart->follow(*this->series);
    });
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::exportCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, "Export CSV", "trend.csv",
                                                      "CSV files (*.csv);;All files (*)");
    if (path.isEmpty())
        return;
    QString error;
    if (!series->exportCsv(path, &error))
        QMessageBox::warning(this, "Export CSV", "The trend could not be saved:\n" + error);
}

namespace
{
// Watches the box for the two ways of asking for the window.
class TrendOpener : public QObject
{
public:
    TrendOpener(QWidget *box, const TrendSeries *series) : QObject(box), box(box), series(series)
    {
        box->installEventFilter(this);
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(box, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
            QMenu menu;
            menu.addAction(QString::fromUtf8("Show Trends…"), this, &TrendOpener::open);
            menu.exec(this->box->mapToGlobal(at));
        });
    }

    void open()
    {
        if (!window)
            window = new TrendWindow(series, box->window());
        window->show();
        window->raise();
        window->activateWindow();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == box && event->type() == QEvent::MouseButtonDblClick)
            open();
        return false;
    }

private:
    QWidget *box;
    const TrendSeries *series;
    TrendWindow *window = nullptr;
};
} // namespace

void TrendWindow::openFrom(QWidget *box, const TrendSeries *series)
{
    new TrendOpener(box, series);
}

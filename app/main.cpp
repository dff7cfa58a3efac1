#include "mainwindow.h"
#include "stopsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quitOnStopSignals(app);
    MainWindow window;
    window.startConnectionThread();
    window.show();
    return app.exec();
}

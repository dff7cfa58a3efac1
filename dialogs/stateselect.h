#ifndef STATESELECT_H
#define STATESELECT_H

#include <QDialog>
#include <QList>
#include <QStringList>

namespace Ui
{
class StateSelect;
}

// Shows the instrument's five stored states side by side and reports the one
// the operator picks, either to load it or to overwrite it. It only displays
// the list it is handed and keeps no copy of it.
class StateSelect : public QDialog
{
    Q_OBJECT

public:
    explicit StateSelect(QWidget *parent = nullptr);
    ~StateSelect() override;

public slots:
    void showWindow(bool load, QList<QStringList> data);

signals:
    void result(bool load, int result);

private slots:
    void on_s1_clicked();
    void on_s2_clicked();
    void on_s3_clicked();
    void on_s4_clicked();
    void on_s5_clicked();
    void on_pushButton_clicked();

private:
    void choose(int state);

    Ui::StateSelect *ui;
    bool load = true;
};

#endif

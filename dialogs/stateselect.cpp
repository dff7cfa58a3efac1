#include "stateselect.h"
#include "ui_stateselect.h"

#include "instrumentcommands.h"
#include "storedstates.h"

namespace
{
const int stateCount = InstrumentCommands::StoredStateCount;
} // namespace

StateSelect::StateSelect(QWidget *parent) : QDialog(parent), ui(new Ui::StateSelect)
{
    ui->setupUi(this);
}

StateSelect::~StateSelect()
{
    delete ui;
}

void StateSelect::showWindow(bool load, QList<QStringList> data)
{
    this->load = load;
    if (load) {
        setWindowTitle("Load State");
        ui->adviceLabel->setText("Select a state to load:");
    } else {
        setWindowTitle("Save Current State");
        ui->adviceLabel->setText("Select a state to overwrite:");
    }

    QLabel *const tune[stateCount] = {ui->tune1, ui->tune2, ui->tune3, ui->tune4, ui->tune5};
    QLabel *const atten[stateCount] = {ui->atten1, ui->atten2, ui->atten3, ui->atten4, ui->atten5};
    QLabel *const ifFreq[stateCount] = {ui->ifFreq_1, ui->ifFreq_2, ui->ifFreq_3, ui->ifFreq_4,
                                        ui->ifFreq_5};
    QLabel *const lna[stateCount] = {ui->lna1, ui->lna2, ui->lna3, ui->lna4, ui->lna5};

    // A list that arrived short (no reply yet, or a truncated one) leaves the
    // missing cells empty rather than guessing a value.
    const StoredStateList list(data);
    for (int row = 0; row < stateCount; ++row) {
        const StoredState state = list.state(row);
        tune[row]->setText(state.tuneFrequency());
        atten[row]->setText(state.attenuation());
        lna[row]->setText(state.holdsLna() ? (state.lnaOn() ? "ON" : "OFF") : QString());
        ifFreq[row]->setText(state.holdsIfFrequency() ? (state.if300MHz() ? "300" : "187")
                                                      : QString());
    }
    show();
}

void StateSelect::choose(int state)
{
    emit result(load, state);
    hide();
}

void StateSelect::on_s1_clicked()
{
    choose(0);
}

void StateSelect::on_s2_clicked()
{
    choose(1);
}

void StateSelect::on_s3_clicked()
{
    choose(2);
}

void StateSelect::on_s4_clicked()
{
    choose(3);
}

void StateSelect::on_s5_clicked()
{
    choose(4);
}

void StateSelect::on_pushButton_clicked()
{
    hide();
}

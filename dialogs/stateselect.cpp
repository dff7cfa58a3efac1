#include "stateselect.h"
#include "ui_stateselect.h"

namespace
{
const int stateCount = 5;

enum Field { TuneField = 0, AttenField = 1, LnaField = 2, IfField = 3 };

// A list that arrived short (no reply yet, or a truncated one) leaves the
// missing cells empty rather than guessing a value.
bool hasField(const QList<QStringList> &data, int state, Field index)
{
    return state < data.size() && index < data.at(state).size();
}

QString field(const QList<QStringList> &data, int state, Field index)
{
    return hasField(data, state, index) ? data.at(state).at(index) : QString();
}
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

    for (int state = 0; state < stateCount; ++state) {
        tune[state]->setText(field(data, state, TuneField));
        atten[state]->setText(field(data, state, AttenField));

        // The instrument encodes LNA on as "0" and the 300 MHz IF as "1";
        // anything else, however close, means the other setting.
        QString lnaText, ifText;
        if (hasField(data, state, LnaField))
            lnaText = field(data, state, LnaField) == "0" ? "ON" : "OFF";
        if (hasField(data, state, IfField))
            ifText = field(data, state, IfField) == "1" ? "300" : "187";
        lna[state]->setText(lnaText);
        ifFreq[state]->setText(ifText);
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

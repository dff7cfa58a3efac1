#include "networksettings.h"
#include "ui_networksettings.h"

#include "instrumentcommands.h"
#include "networksettingsfile.h"

#include <QMessageBox>
#include <QStringList>

namespace
{
const int octets = 4;

void showCentred(QLineEdit *box, const QString &text)
{
    box->setText(NetworkSettings::tr("%1").arg(text));
    box->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
}
} // namespace

NetworkSettings::NetworkSettings(QWidget *parent) : QDialog(parent), ui(new Ui::NetworkSettings)
{
    ui->setupUi(this);
    connect(ui->loadDiskButton, &QPushButton::clicked, this, &NetworkSettings::loadFromFile);
    connect(ui->loadDeviceButton, &QPushButton::clicked, this, &NetworkSettings::loadFromDevice);
}

NetworkSettings::~NetworkSettings()
{
    delete ui;
}

void NetworkSettings::showWindow()
{
    emit startLoad();
    show();
}

void NetworkSettings::networkSettingsFromFile(QString ipAddress, QString subnet, QString gateway,
                                              int port)
{
    fillRow({ui->ipAddress_1, ui->ipAddress_2, ui->ipAddress_3, ui->ipAddress_4}, ipAddress);
    fillRow({ui->subnet_1, ui->subnet_2, ui->subnet_3, ui->subnet_4}, subnet);
    fillRow({ui->gateway_1, ui->gateway_2, ui->gateway_3, ui->gateway_4}, gateway);
    showCentred(ui->port, port < 0 ? QString() : QString::number(port));
}

// An address with fewer than four parts (an empty line, a truncated reply)
// fills what it has and clears the rest, so no box keeps a stale part.
void NetworkSettings::fillRow(QLineEdit *const (&boxes)[4], const QString &address)
{
    const QStringList parts = address.split('.', Qt::KeepEmptyParts);
    for (int i = 0; i < octets; ++i)
        showCentred(boxes[i], i < parts.size() ? parts.at(i) : QString());
}

// A box accepts a pasted line break, which is never part of an address and
// would split the one-value-per-line settings file and the command carrying it.
QString NetworkSettings::joinRow(QLineEdit *const (&boxes)[4])
{
    QStringList parts;
    for (QLineEdit *box : boxes)
        parts << box->text().remove('\r').remove('\n');
    return parts.join('.');
}

void NetworkSettings::on_cancelButton_clicked()
{
    hide();
}

bool NetworkSettings::confirmSave()
{
    QMessageBox box(QMessageBox::Information, windowTitle(),
                    "Warning: If you are connected to the device via USB, this will overwrite the "
                    "network settings on the device.",
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setInformativeText("Are you sure you wish to proceed?");
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

NetworkSettings::Entries NetworkSettings::entries() const
{
    return {joinRow({ui->ipAddress_1, ui->ipAddress_2, ui->ipAddress_3, ui->ipAddress_4}),
            joinRow({ui->subnet_1, ui->subnet_2, ui->subnet_3, ui->subnet_4}),
            joinRow({ui->gateway_1, ui->gateway_2, ui->gateway_3, ui->gateway_4}),
            ui->port->text()};
}

// Names the first field that holds no valid setting; false when there is one.
bool NetworkSettings::entriesValid(const Entries &typed)
{
    QString problem = InstrumentCommands::networkSettingsProblem(
        typed.ipAddress, typed.subnet, typed.gateway, typed.port.trimmed());
    if (problem.isEmpty())
        return true;
    problem[0] = problem.at(0).toUpper();
    QMessageBox box(QMessageBox::Warning, windowTitle(), problem + '.', QMessageBox::Ok, this);
    box.exec();
    return false;
}

void NetworkSettings::on_saveButton_clicked()
{
    // Taken before the confirmation: while it is up, a late reply to "Load
    // from Device" can refill the boxes, and the operator confirms what was
    // on screen when Save was clicked.
    const Entries typed = entries();
    if (!entriesValid(typed))
        return;
    if (!isHidden() && !confirmSave())
        return;

    ipAddress = typed.ipAddress;
    subnet = typed.subnet;
    gateway = typed.gateway;
    port = NetworkSettingsFile::parsePort(typed.port);
    prot = 1;

    emit result(ipAddress, subnet, gateway, port, prot);
    hide();
}

void NetworkSettings::loadFromFile()
{
    emit startLoad();
}

void NetworkSettings::loadFromDevice()
{
    emit startLoadDevice();
}

#include "ui/shell/NoBoardDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ketrion {

NoBoardDialog::NoBoardDialog(const QString& lookedFor, const QStringList& ports, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("No receiver board found"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("<b>No receiver board answered.</b>"), this);
    layout->addWidget(heading);
    m_lookedFor = new QLabel(lookedFor, this);
    m_lookedFor->setWordWrap(true);
    m_lookedFor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_lookedFor);
    layout->addWidget(new QLabel(QStringLiteral("How do you want to go on?"), this));

    auto* group = new QButtonGroup(this);
    m_port = new QRadioButton(QStringLiteral("Use the board on this serial port:"), this);
    m_ports = new QComboBox(this);
    m_ports->addItems(ports);
    m_simulated = new QRadioButton(QStringLiteral("Use the simulated board"), this);
    m_wifi = new QRadioButton(QStringLiteral("Scan with this computer's Wi-Fi adapter"), this);
    m_review = new QRadioButton(QStringLiteral("Only review survey files"), this);
    for (QRadioButton* choice : {m_port, m_simulated, m_wifi, m_review}) {
        group->addButton(choice);
    }
    layout->addWidget(m_port);
    layout->addWidget(m_ports);
    layout->addWidget(m_simulated);
    layout->addWidget(m_wifi);
    layout->addWidget(m_review);

    // Without a serial device there is nothing to choose from.
    const bool havePorts = !ports.isEmpty();
    m_port->setEnabled(havePorts);
    m_ports->setEnabled(havePorts);
    connect(m_ports, &QComboBox::activated, m_port, [this] { m_port->setChecked(true); });
    SetWifiAvailable(false);
    (havePorts ? m_port : m_review)->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Continue"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void NoBoardDialog::reject() {
    // Cancel, Escape and the window's close button all end up here.
    m_rejected = true;
    QDialog::reject();
}

void NoBoardDialog::SetWifiAvailable(bool available) {
    m_wifi->setEnabled(available);
    if (!available && m_wifi->isChecked()) {
        m_review->setChecked(true);
    }
}

NoBoardAnswer NoBoardDialog::Answer() const {
    NoBoardAnswer answer;
    if (m_rejected) {
        return answer;  // closing the window: review files only
    }
    if (m_port->isChecked() && m_port->isEnabled() && m_ports->currentIndex() >= 0) {
        answer.choice = NoBoardChoice::SerialPort;
        answer.port = m_ports->currentText();
    } else if (m_simulated->isChecked()) {
        answer.choice = NoBoardChoice::SimulatedBoard;
    } else if (m_wifi->isChecked() && m_wifi->isEnabled()) {
        answer.choice = NoBoardChoice::WifiAdapter;
    }
    return answer;
}

NoBoardAnswer AskWithoutBoard(const QString& lookedFor, const QStringList& ports,
                              bool wifiAvailable, QWidget* parent) {
    NoBoardDialog dialog(lookedFor, ports, parent);
    dialog.SetWifiAvailable(wifiAvailable);
    if (dialog.exec() != QDialog::Accepted) {
        return NoBoardAnswer{};
    }
    return dialog.Answer();
}

}  // namespace ketrion

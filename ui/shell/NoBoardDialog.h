#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QComboBox;
class QLabel;
class QRadioButton;

namespace ketrion {

// What the surveyor chose to do when no receiver board was found.
enum class NoBoardChoice {
    SerialPort,      // use the serial port in NoBoardAnswer::port
    SimulatedBoard,  // run the simulated board
    WifiAdapter,     // scan with the computer's Wi-Fi adapter
    ReviewOnly,      // no receiver: open and look at files only
};

struct NoBoardAnswer {
    NoBoardChoice choice = NoBoardChoice::ReviewOnly;
    QString port;  // for SerialPort: the device path
};

// The one window a desktop shows when no board answered at start-up: what
// was looked for, and the ways on (a serial port of the ones present, the
// simulated board, the Wi-Fi adapter when one can be used, or reviewing files
// only). Closing it chooses reviewing files only. The handheld size keeps its
// two messages instead.
class NoBoardDialog : public QDialog {
    Q_OBJECT
public:
    // `lookedFor`: what the search tried, in a sentence or a few lines;
    // `ports`: serial devices present (may be empty).
    NoBoardDialog(const QString& lookedFor, const QStringList& ports, QWidget* parent = nullptr);

    // Offers the Wi-Fi adapter (greyed out until a scan source can use one).
    void SetWifiAvailable(bool available);
    // The choice as it stands (ReviewOnly after a rejection).
    NoBoardAnswer Answer() const;

    QRadioButton* PortChoice() const { return m_port; }
    QRadioButton* SimulatedChoice() const { return m_simulated; }
    QRadioButton* WifiChoice() const { return m_wifi; }
    QRadioButton* ReviewChoice() const { return m_review; }
    QComboBox* PortBox() const { return m_ports; }
    QLabel* LookedForLabel() const { return m_lookedFor; }

public slots:
    void reject() override;

private:
    QLabel* m_lookedFor = nullptr;
    QRadioButton* m_port = nullptr;
    QComboBox* m_ports = nullptr;
    QRadioButton* m_simulated = nullptr;
    QRadioButton* m_wifi = nullptr;
    QRadioButton* m_review = nullptr;
    bool m_rejected = false;
};

// Shows the window modally and returns the choice as a plain value. A desktop
// start without a board asks this in place of the handheld's two messages
// ("Could not find ..." and "Cannot Open Connection To Board.").
NoBoardAnswer AskWithoutBoard(const QString& lookedFor, const QStringList& ports,
                              bool wifiAvailable, QWidget* parent);

}  // namespace ketrion

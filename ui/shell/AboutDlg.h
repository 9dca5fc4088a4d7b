#pragma once

#include <QDialog>
#include <QPixmap>
#include <QRect>
#include <QSize>

#include <array>

class QLabel;
class QPushButton;

namespace ketrion {

// The About box: the application icon, "Ketrion" with "Version 1.03", and a
// short notice. Portrait screens use the tall layout (template 100), screens
// at least as wide as high the wide one (template 200); the texts are the same
// in both. Control positions are in dialog units, converted with the dialog
// font's base units as dialog templates are.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPortraitTemplate = 100;
    static constexpr int kLandscapeTemplate = 200;
    static constexpr int IDC_ICON = 201;
    static constexpr int IDC_VERSION = 202;
    static constexpr int IDC_NOTICE = 203;

    struct ControlItem {
        int id;
        QRect units;  // position and size in dialog units
    };
    struct Template {
        int number;
        QSize units;  // the dialog's size in dialog units
        std::array<ControlItem, 3> controls;
    };
    static const Template& Portrait();
    static const Template& Landscape();
    // The layout for a screen of this size: portrait when narrower than high.
    static const Template& TemplateFor(QSize screen);

    explicit CAboutDlg(QWidget* parent = nullptr);

    // The program's icon: the window icon when one is set, else the antenna
    // of the splash picture, else the style's information icon.
    static QPixmap ApplicationIcon();

    // Moves the three controls to their places in `layout`, in pixels. A text
    // box grows to the right and down when its text needs more room.
    void LayOut(const Template& layout);
    // The template last laid out (100 or 200).
    int CurrentTemplate() const { return m_current; }
    // Converts a rectangle in dialog units to pixels for this dialog's font.
    QRect MapDialogRect(QRect units) const;
    // The child with control identifier `id`, or null.
    QWidget* Control(int id) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QSize ScreenSize() const;
    // The place of a text control: its box, grown where its text needs more.
    QRect FitText(QWidget* child, QRect box) const;

    QLabel* m_icon = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_notice = nullptr;
    QPushButton* m_ok = nullptr;
    int m_current = 0;
};

}  // namespace ketrion

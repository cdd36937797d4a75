#pragma once

// The window that fetches the instrument's display and shows it in two chosen colours.
//
// Every redraw (a read, a failed read, a change of colour) puts the picture on the
// clipboard and, once FileName is set, saves it there as a 132 x 68 bitmap, so the file
// and the clipboard always hold the picture as last drawn. A failed read resets the
// picture to the bare border before it is drawn.
//
// The window may show the picture enlarged, pixel for pixel without smoothing; the file and
// the clipboard always get it at its own size, and a change of scale writes neither.

#include "device/ScreenFrame.h"

#include <QDialog>
#include <QImage>
#include <QString>

#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

// The name of the picture's file in the program's folder.
inline const QString SCREEN_SHOT_FILE_NAME = QStringLiteral("sceenshot.bmp");

class TDeviceScreenShotForm : public QDialog
{
    Q_OBJECT

public:
    // Black on white, no file, the bare border shown; the clipboard is left alone.
    explicit TDeviceScreenShotForm(QWidget* owner);

    static constexpr int MAX_SCALE = 3;

    // Colours are 0x00BBGGRR. Setting one selects it in its drop-down (none is selected
    // for a colour the list does not offer; it is still used) and redraws.
    std::uint32_t PenColor() const { return m_penColor; }
    void SetPenColor(std::uint32_t color);
    std::uint32_t BackgroundColor() const { return m_backgroundColor; }
    void SetBackgroundColor(std::uint32_t color);

    // Where every redraw saves the picture; empty: no saving. Setting it does not redraw.
    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& fileName) { m_fileName = fileName; }

    // How many screen pixels each picture pixel takes, 1 to MAX_SCALE (a value outside is
    // brought inside). The window grows to the enlarged picture as far as its screen allows
    // and scrolls the picture beyond that.
    int Scale() const { return m_scale; }
    void SetScale(int scale);

    const TScreenFrame& ScreenFrame() const { return m_screenFrame; }
    // The picture as last drawn: 132 x 68, the two colours only.
    const QImage& Picture() const { return m_picture; }

    // Resets the frame to the bare border without drawing it.
    void ClearScreen() { m_screenFrame.ClearScreen(); }
    // Draws the frame, saves it when FileName is set and puts it on the clipboard. A file
    // that cannot be written is reported to the operator.
    void ShowScreen();

    QLabel* DeviceScreenShotImage() const { return m_deviceScreenShotImage; }
    QComboBox* PenColorComboBox() const { return m_penColorComboBox; }
    QComboBox* BackgroundColorComboBox() const { return m_backgroundColorComboBox; }
    QComboBox* ScaleComboBox() const { return m_scaleComboBox; }
    QScrollArea* PictureScrollArea() const { return m_pictureScrollArea; }
    QPushButton* GetPictureButton() const { return m_getPictureButton; }
    QPushButton* CloseButton() const { return m_closeButton; }

private:
    void PenColorComboBoxChange();
    void BackgroundColorComboBoxChange();
    void GetPictureButtonClick();

    // Renders the frame into the picture and the window only.
    void Paint();
    // Shows the picture at the current scale.
    void ShowPicture();
    QComboBox* MakeColorComboBox(const QString& name);
    // Places the controls as drawn, widening the column of the drop-downs and the window
    // when the desktop's font or the enlarged picture needs more room than the drawn sizes
    // give, and keeps the window on its screen.
    void Arrange();

    TScreenFrame m_screenFrame;
    std::uint32_t m_penColor = 0x000000;
    std::uint32_t m_backgroundColor = 0xFFFFFF;
    QString m_fileName;
    QImage m_picture;
    int m_scale = 1;

    QFrame* m_panel = nullptr;
    QScrollArea* m_pictureScrollArea = nullptr;
    QWidget* m_pictureHolder = nullptr;
    QLabel* m_deviceScreenShotImage = nullptr;
    QLabel* m_penLabel = nullptr;
    QLabel* m_backgroundLabel = nullptr;
    QLabel* m_scaleLabel = nullptr;
    QComboBox* m_penColorComboBox = nullptr;
    QComboBox* m_backgroundColorComboBox = nullptr;
    QComboBox* m_scaleComboBox = nullptr;
    QPushButton* m_getPictureButton = nullptr;
    QPushButton* m_closeButton = nullptr;
};

// The "Снимок экрана" action: shows the window modally with the caller's colours and the
// file SCREEN_SHOT_FILE_NAME in `programFolder`, then hands the colours chosen back.
void ScreenShotActionExecute(
    QWidget* owner, std::uint32_t& penColor, std::uint32_t& backgroundColor, const QString& programFolder);

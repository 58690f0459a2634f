#pragma once
#include <QImage>
#include <QRect>
#include <QWidget>

// The preview picture: drawn as large as the control allows without
// distortion, centred, the free strips painted black; nothing at all when empty.
class TZqImage : public QWidget {
    Q_OBJECT
public:
    explicit TZqImage(QWidget *parent = nullptr); // 105 x 105 until laid out

    const QImage &Picture() const;
    // Copies; repaints; updates the opaque hint. A bitmap decoded at a reduced
    // scale comes with the picture's full size, which the fit and the opaque
    // hint then use, so they are exactly those of the full-size picture.
    void SetPicture(const QImage &picture, QSize fullSize = QSize());
    void ClearPicture();
    bool Opaque() const;
    // The size the fit and the opaque hint work with.
    QSize PictureSize() const { return fullSize_; }

    // The fitting rule with its integer arithmetic: the rectangle the picture
    // is drawn into for a control of W x H and a picture of w x h.
    static QRect FitRect(int W, int H, int w, int h);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void PictureChanged();

    QImage picture_;
    QSize fullSize_;
    // The picture scaled to the last drawn rectangle, so a repaint does not
    // rescale a large picture again.
    QImage scaled_;
};

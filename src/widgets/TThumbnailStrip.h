#pragma once
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QStringList>

#include <functional>

class QHBoxLayout;
class TElidedLabel;
class QToolButton;

// A line saying what the run grabbed and the latest saved pictures as
// thumbnails, newest first; a click opens the picture.
class TThumbnailStrip : public QFrame {
    Q_OBJECT
public:
    static constexpr int ThumbSize = 48;
    static constexpr int MaxThumbs = 12;

    explicit TThumbnailStrip(QWidget *parent = nullptr);

    TElidedLabel *laSummary;

    void SetSummary(const QString &text);
    // Adds the saved file; a file that is no picture Qt or libjpeg can read
    // shows as a plain file icon, and so does every thumbnail until painted.
    void AddPicture(const QString &path);
    // The thumbnail of a picture added before, made elsewhere; nothing for
    // a picture no longer in the strip.
    void SetThumbnail(const QString &path, const QImage &image);
    // Off when thumbnails come by SetThumbnail: a picture waiting for its
    // own shows the file icon rather than being decoded when painted.
    bool DecodeOnPaint = true;
    QStringList Pictures() const; // newest first
    QToolButton *Thumb(int i) const;

    // Opens a picture when its thumbnail is clicked (the desktop's viewer).
    std::function<void(const QString &path)> OnOpen;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const QIcon &fileIcon();
    QIcon fileIcon_;
    QHBoxLayout *row_;
    QList<QToolButton *> thumbs_;
};

#pragma once

#include <QPixmap>
#include <QWidget>

namespace Keldra::Config {

// Paints its picture scaled to cover the whole widget, centred, with the
// overflowing edges cut off evenly. A null pixmap paints nothing.
class BackgroundWidget : public QWidget
{
    Q_OBJECT

public:
    explicit BackgroundWidget(QWidget* parent = nullptr);

    void setPixmap(const QPixmap& pixmap);
    const QPixmap& pixmap() const { return m_pixmap; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_pixmap;
};

} // namespace Keldra::Config

#include "prompter/remote/RemoteQr.h"

#include <qrencode.h>

#include <QPainter>
#include <memory>

namespace prompter::remote {

std::optional<RemoteQr> RemoteQr::encode(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), QRcode_free);
    if (!code)
        return std::nullopt;
    RemoteQr qr;
    qr.width_ = code->width;
    qr.modules_.resize(static_cast<std::size_t>(code->width) * code->width);
    for (std::size_t i = 0; i < qr.modules_.size(); ++i)
        qr.modules_[i] = (code->data[i] & 1) != 0;
    return qr;
}

QImage RemoteQr::image(int scale) const {
    const int side = (width_ + 2 * kQuietModules) * scale;
    QImage picture(side, side, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    for (int y = 0; y < width_; ++y)
        for (int x = 0; x < width_; ++x)
            if (dark(x, y))
                painter.fillRect((x + kQuietModules) * scale, (y + kQuietModules) * scale, scale,
                                 scale, Qt::black);
    return picture;
}

QString RemoteQr::terminalText() const {
    // Light modules are drawn (full, upper and lower blocks), dark ones left as the background,
    // which reads as a QR code on the usual dark terminal; the border is light.
    const auto light = [this](int x, int y) {
        return x < 0 || y < 0 || x >= width_ || y >= width_ || !dark(x, y);
    };
    QString text;
    for (int y = -kQuietModules; y < width_ + kQuietModules; y += 2) {
        for (int x = -kQuietModules; x < width_ + kQuietModules; ++x) {
            const bool top = light(x, y);
            const bool bottom = light(x, y + 1) && y + 1 < width_ + kQuietModules;
            text += top && bottom ? QChar(0x2588)
                    : top         ? QChar(0x2580)
                    : bottom      ? QChar(0x2584)
                                  : QChar(' ');
        }
        text += QLatin1Char('\n');
    }
    return text;
}

}  // namespace prompter::remote

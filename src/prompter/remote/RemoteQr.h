// RemoteQr: the page's address as a QR code (libqrencode), for a phone's camera: as a picture
// for the prompter's window, and as text for the terminal that started it.
#pragma once

#include <QImage>
#include <QString>
#include <optional>
#include <vector>

namespace prompter::remote {

class RemoteQr {
  public:
    static constexpr int kQuietModules = 4;  // the white border a reader needs

    // Nothing when the text cannot be encoded (too long for a QR code).
    [[nodiscard]] static std::optional<RemoteQr> encode(const QString& text);

    [[nodiscard]] int width() const { return width_; }  // modules, without the border
    [[nodiscard]] bool dark(int x, int y) const { return modules_[y * width_ + x]; }
    // Black on white, `scale` pixels a module, border included.
    [[nodiscard]] QImage image(int scale) const;
    // Two modules a character (upper and lower half blocks), dark drawn as the terminal's
    // background on light, border included; one line per two rows.
    [[nodiscard]] QString terminalText() const;

  private:
    int width_ = 0;
    std::vector<bool> modules_;
};

}  // namespace prompter::remote

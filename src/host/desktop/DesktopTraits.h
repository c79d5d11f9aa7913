// DesktopTraits: the person's desktop settings as the device's traits.
//
// Light or dark comes from the freedesktop settings portal's colour scheme
// (org.freedesktop.appearance color-scheme: 1 prefers dark, 2 prefers light, 0 has no
// preference) on the session bus, followed live through its SettingChanged signal. The text
// size comes from the desktop's text scaling factor (org.gnome.desktop.interface
// text-scaling-factor, read through the same portal), mapped to the content size category whose
// body size is nearest to the default body size times the factor. Where no portal answers, or it
// has no preference, the caller falls back (for light or dark: the desktop palette's lightness).
#pragma once

#include <QDBusVariant>
#include <QObject>
#include <chrono>
#include <functional>
#include <optional>

#include "platform/foundation/Font.h"
#include "platform/ui/TraitCollection.h"

namespace host::desktop {

class DesktopTraits : public QObject {
    Q_OBJECT

  public:
    explicit DesktopTraits(QObject* parent = nullptr);

    // Asks the portal for both settings, running Qt's events for at most `patience` while it
    // answers, then follows its changes.
    void start(std::chrono::milliseconds patience);

    [[nodiscard]] std::optional<platform::UserInterfaceStyle> appearance() const {
        return appearance_;
    }
    [[nodiscard]] std::optional<platform::ContentSizeCategory> textSize() const {
        return textSize_;
    }
    // Runs after a followed setting changed.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

  private:
    // Takes a setting's value; true when it is one of the two followed and it changed.
    bool take(const QString& group, const QString& key, const QVariant& value);

    std::optional<platform::UserInterfaceStyle> appearance_;
    std::optional<platform::ContentSizeCategory> textSize_;
    std::function<void()> changed_;
};

// The appearance of a portal colour scheme value; none for "no preference" and unknown values.
[[nodiscard]] std::optional<platform::UserInterfaceStyle> appearanceForColourScheme(
    std::uint32_t scheme);
// The category whose body size is nearest to the default body size times `factor`; none for a
// factor that is not a positive finite number.
[[nodiscard]] std::optional<platform::ContentSizeCategory> categoryForTextScaling(double factor);

}  // namespace host::desktop

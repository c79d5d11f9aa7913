#include "host/desktop/DesktopTraits.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>
#include <cmath>

namespace host::desktop {
namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString kColourSchemeKey = QStringLiteral("color-scheme");
const QString kInterfaceGroup = QStringLiteral("org.gnome.desktop.interface");
const QString kTextScalingKey = QStringLiteral("text-scaling-factor");

// Read answers with the value in a variant, older portals in a variant in a variant.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

}  // namespace

std::optional<platform::UserInterfaceStyle> appearanceForColourScheme(std::uint32_t scheme) {
    switch (scheme) {
        case 1:
            return platform::UserInterfaceStyle::dark;
        case 2:
            return platform::UserInterfaceStyle::light;
        default:
            return std::nullopt;
    }
}

std::optional<platform::ContentSizeCategory> categoryForTextScaling(double factor) {
    if (!std::isfinite(factor) || factor <= 0)
        return std::nullopt;
    using platform::Font;
    using platform::TextStyle;
    const double wanted =
        Font::pointSizeForTextStyle(TextStyle::body, platform::ContentSizeCategory::large) * factor;
    auto best = platform::ContentSizeCategory::large;
    double bestDistance = INFINITY;
    for (int i = 0; i < platform::kContentSizeCategoryCount; ++i) {
        const auto category = static_cast<platform::ContentSizeCategory>(i);
        const double distance =
            std::abs(Font::pointSizeForTextStyle(TextStyle::body, category) - wanted);
        if (distance < bestDistance) {  // the smaller category wins a tie
            best = category;
            bestDistance = distance;
        }
    }
    return best;
}

DesktopTraits::DesktopTraits(QObject* parent) : QObject(parent) {}

void DesktopTraits::start(std::chrono::milliseconds patience) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    // Both questions at once; the answers are taken as they come, within the patience.
    QEventLoop loop;
    int outstanding = 0;
    std::vector<std::unique_ptr<QDBusPendingCallWatcher>> watchers;
    for (const auto& [group, key] : {std::pair{kAppearanceGroup, kColourSchemeKey},
                                     std::pair{kInterfaceGroup, kTextScalingKey}}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("Read"));
        message << group << key;
        auto watcher = std::make_unique<QDBusPendingCallWatcher>(
            bus.asyncCall(message, static_cast<int>(patience.count())));
        ++outstanding;
        connect(watcher.get(), &QDBusPendingCallWatcher::finished, &loop,
                [&, group = group, key = key](QDBusPendingCallWatcher* call) {
                    const QDBusMessage reply = call->reply();
                    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                        take(group, key, unwrapped(reply.arguments().constFirst()));
                    if (--outstanding == 0)
                        loop.quit();
                });
        watchers.push_back(std::move(watcher));
    }
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    if (outstanding > 0)
        loop.exec();
}

bool DesktopTraits::take(const QString& group, const QString& key, const QVariant& value) {
    if (group == kAppearanceGroup && key == kColourSchemeKey) {
        bool ok = false;
        const uint scheme = value.toUInt(&ok);
        const auto appearance = ok ? appearanceForColourScheme(scheme) : std::nullopt;
        const bool changed = appearance != appearance_;
        appearance_ = appearance;
        return changed;
    }
    if (group == kInterfaceGroup && key == kTextScalingKey) {
        bool ok = false;
        const double factor = value.toDouble(&ok);
        const auto size = ok ? categoryForTextScaling(factor) : std::nullopt;
        const bool changed = size != textSize_;
        textSize_ = size;
        return changed;
    }
    return false;
}

void DesktopTraits::settingChanged(const QString& group, const QString& key,
                                   const QDBusVariant& value) {
    if (take(group, key, unwrapped(value.variant())) && changed_)
        changed_();
}

}  // namespace host::desktop

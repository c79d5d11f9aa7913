#include <gtest/gtest.h>

#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

namespace {

using platform::BarButtonItem;
using platform::ClassRegistry;
using platform::ObjectPtr;

// A target that counts the actions it receives, registered like any class.
class Counter : public platform::Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "Test.Counter"; }
    int taps = 0;
    ObjectPtr lastSender;
};

[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "Test.Counter",
    .messages = {{"count:",
                  [](platform::Object& receiver, const ObjectPtr& sender) {
                      auto& counter = static_cast<Counter&>(receiver);
                      ++counter.taps;
                      counter.lastSender = sender;
                  }}},
});

TEST(BarButtonItem, ATapSendsTheActionToTheTargetWhileEnabled) {
    auto counter = std::make_shared<Counter>();
    auto item =
        BarButtonItem::initWithTitle("Go", platform::BarButtonItemStyle::plain, counter, "count:");
    EXPECT_TRUE(item->tap());
    EXPECT_EQ(counter->taps, 1);
    EXPECT_EQ(counter->lastSender, item);

    item->setEnabled(false);
    EXPECT_FALSE(item->tap());
    EXPECT_EQ(counter->taps, 1);

    item->setEnabled(true);
    item->setAction("unknown:");
    EXPECT_FALSE(item->tap()) << "a selector the target does not answer is not delivered";

    item->setAction("count:");
    counter->lastSender.reset();
    counter.reset();
    EXPECT_FALSE(item->tap()) << "the target is held weakly";
}

TEST(Views, SubviewsNotifyEveryMoveAndIndicatorsHideWhenStopped) {
    struct Probe : platform::View {
        int moves = 0;
        void didMoveToSuperview() override { ++moves; }
    };
    auto parent = platform::View::make();
    auto other = platform::View::make();
    auto probe = std::make_shared<Probe>();
    parent->addSubview(probe);
    other->addSubview(probe);
    EXPECT_EQ(probe->superview(), other);
    EXPECT_TRUE(parent->subviews().empty());
    probe->removeFromSuperview();
    EXPECT_EQ(probe->moves, 4) << "add, remove from the old parent, add, remove";
    EXPECT_FALSE(probe->superview());

    auto indicator = platform::ActivityIndicatorView::make();
    EXPECT_TRUE(indicator->isHidden());
    indicator->startAnimating();
    EXPECT_TRUE(indicator->isAnimating());
    EXPECT_FALSE(indicator->isHidden());
    indicator->stopAnimating();
    EXPECT_TRUE(indicator->isHidden());
}

TEST(ViewController, TraitChangesAreDeliveredOnlyWhenSomethingChanged) {
    struct Probe : platform::ViewController {
        int loads = 0;
        std::vector<platform::TraitCollection> previous;
        void viewDidLoad() override { ++loads; }
        void traitCollectionDidChange(const platform::TraitCollection* before) override {
            previous.push_back(*before);
        }
    };
    auto controller = std::make_shared<Probe>();
    controller->loadViewIfNeeded();
    controller->loadViewIfNeeded();
    EXPECT_EQ(controller->loads, 1);
    ASSERT_TRUE(controller->view());

    platform::TraitCollection traits = controller->traitCollection();
    controller->setTraitCollection(traits);
    EXPECT_TRUE(controller->previous.empty());
    traits.userInterfaceStyle = platform::UserInterfaceStyle::dark;
    controller->setTraitCollection(traits);
    traits.preferredContentSizeCategory = platform::ContentSizeCategory::accessibilityLarge;
    controller->setTraitCollection(traits);
    ASSERT_EQ(controller->previous.size(), 2u);
    EXPECT_EQ(controller->previous[0].userInterfaceStyle, platform::UserInterfaceStyle::light);
    EXPECT_EQ(controller->previous[1].userInterfaceStyle, platform::UserInterfaceStyle::dark);
}

}  // namespace

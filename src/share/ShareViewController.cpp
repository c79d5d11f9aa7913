#include "share/ShareViewController.h"

#include <stdexcept>

#include "platform/extension/ExtensionContext.h"
#include "platform/foundation/Application.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Font.h"
#include "platform/foundation/PlatformVersion.h"
#include "share/PlainTextLoading.h"
#include "share/TitleLine.h"
#include "styling/FontSize.h"
#include "styling/TextColor.h"

namespace quorvane {

using platform::AttributedText;
using platform::AttributeValue;
using platform::BarButtonItem;
using platform::Font;
using platform::MutableAttributedText;
using platform::PlatformVersion;
using platform::String;
using platform::TextStyle;

// ---- creation and outlets ----

bool ShareViewController::initWithNibName(const std::optional<std::string>& nibName,
                                          const platform::ObjectPtr& bundle) {
    return ViewController::initWithNibName(nibName, bundle);
}

bool ShareViewController::initWithCoder(const platform::Coder& coder) {
    return ViewController::initWithCoder(coder);
}

const std::shared_ptr<BarButtonItem>& ShareViewController::closeBarButtonItem() {
    if (!closeBarButtonItem_) {
        const auto item = PlatformVersion::isAtLeast(13, 0) ? platform::BarButtonSystemItem::close
                                                            : platform::BarButtonSystemItem::cancel;
        closeBarButtonItem_ = BarButtonItem::initWithBarButtonSystemItem(item, shared_from_this(),
                                                                         "cancelButtonTouched:");
    }
    return closeBarButtonItem_;
}

const std::shared_ptr<BarButtonItem>& ShareViewController::doneBarButtonItem() {
    if (!doneBarButtonItem_) {
        doneBarButtonItem_ =
            BarButtonItem::initWithTitle(kSendTitle, platform::BarButtonItemStyle::plain,
                                         shared_from_this(), "sendButtonTouched:");
    }
    return doneBarButtonItem_;
}

// ---- presentation ----

void ShareViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    configureView();
    showIdleState();
    loadSharedText();
}

void ShareViewController::configureView() {
    navigationItem().setLeftBarButtonItem(closeBarButtonItem());
    navigationItem().setRightBarButtonItem(doneBarButtonItem());
    if (const auto view = textView())
        view->setTextContainerInset(kTextContainerInset);
}

void ShareViewController::showBusyState() {
    if (const auto indicator = activityIndicator())
        indicator->startAnimating();
    if (const auto view = textView())
        view->setHidden(true);
    doneBarButtonItem()->setEnabled(false);
    navigationItem().setTitle(kSendingTitle);
}

void ShareViewController::showIdleState() {
    if (const auto indicator = activityIndicator())
        indicator->stopAnimating();
    if (const auto view = textView())
        view->setHidden(false);
    doneBarButtonItem()->setEnabled(true);
    navigationItem().setTitle(titleLine(capturedText_));
}

platform::RgbaColor ShareViewController::appearanceColor() const {
    return traitCollection().userInterfaceStyle == platform::UserInterfaceStyle::light
               ? platform::RgbaColor::blackColor()
               : platform::RgbaColor::whiteColor();
}

void ShareViewController::showSharedText(const std::shared_ptr<platform::ExtensionItem>& item,
                                         const String& text) {
    const auto view = textView();
    if (!view)
        return;  // the interface file guarantees the outlet; nothing to show without it
    const AttributedText bodySource = item && item->attributedContentText()
                                          ? *item->attributedContentText()
                                          : AttributedText(text);
    const double bodySize = Font::preferredFontForTextStyle(TextStyle::body).pointSize();
    AttributedText body =
        attributedStringWithFontSize(bodySource, bodySize, ClearParagraphStyle::yes);
    if (PlatformVersion::isAtLeast(12, 0))
        body = attributedStringForegroundColor(body, appearanceColor());
    view->setAttributedText(body);

    const double titleSize = Font::preferredFontForTextStyle(TextStyle::largeTitle).pointSize();
    const platform::AttributeDictionary titleAttributes{
        {platform::NSFontAttributeName,
         AttributeValue::make(Font::boldSystemFontOfSize(titleSize))}};
    // The title string is the title line followed by one line feed, all in the bold font.
    MutableAttributedText combined(titleLine(text), titleAttributes);
    combined.appendAttributedString(AttributedText(String("\n"), titleAttributes));
    combined.appendAttributedString(view->attributedText());
    view->setAttributedText(combined.copy());

    navigationItem().setTitle("");
    capturedText_ = text;
}

void ShareViewController::traitCollectionDidChange(const platform::TraitCollection* /*previous*/) {
    if (!PlatformVersion::isAtLeast(12, 0))
        return;
    const auto view = textView();
    if (!view)
        return;
    view->setAttributedText(
        attributedStringForegroundColor(view->attributedText(), appearanceColor()));
}

// ---- intake ----

void ShareViewController::loadSharedText() {
    const auto context = extensionContext();
    if (!context)
        return;
    const auto& inputItems = context->inputItems();
    if (inputItems.empty())
        return;
    auto item = std::dynamic_pointer_cast<platform::ExtensionItem>(inputItems.front());
    if (!item)
        return;
    const std::weak_ptr<ShareViewController> weakSelf = platform::sharedFrom(this);
    loadPlainText(*item, [weakSelf, item](String text) {
        platform::Dispatch::asyncMain([weakSelf, item, text = std::move(text)] {
            if (const auto self = weakSelf.lock())
                self->showSharedText(item, text);
        });
    });
}

// ---- send and cancel ----

void ShareViewController::sendButtonTouched(const platform::ObjectPtr& /*sender*/) {
    sendCapturedText();
}

void ShareViewController::cancelButtonTouched(const platform::ObjectPtr& /*sender*/) {
    const auto context = extensionContext();
    if (!context || requestEnded_)
        return;
    requestEnded_ = true;
    context->cancelRequestWithError(platformError(ShareError::cancelled));
}

void ShareViewController::sendCapturedText() {
    showBusyState();
    // The text is taken here, on the main thread, so a delivery arriving during the write
    // cannot change what is being written.
    auto self = platform::sharedFrom(this);
    platform::Dispatch::asyncGlobal(
        platform::QualityOfService::defaultClass, [self, text = capturedText_] {
            WriteResult result = writeCapturedText(text);
            platform::Dispatch::asyncMain([self, result = std::move(result)] {
                self->showIdleState();
                self->finishSend(result);
            });
        });
}

void ShareViewController::finishSend(const WriteResult& result) {
    const auto context = extensionContext();
    if (!context || requestEnded_)
        return;
    requestEnded_ = true;
    if (result.succeeded()) {
        context->completeRequestReturningItems({}, nullptr);
    } else {
        context->cancelRequestWithError(platformError(ShareError::writeFailed, result.error));
    }
}

// ---- runtime registration ----

namespace {

template <typename View>
platform::ClassInfo::Message outletSetter(
    const char* outlet, void (ShareViewController::*setter)(const std::shared_ptr<View>&)) {
    return [outlet, setter](platform::Object& receiver, const platform::ObjectPtr& argument) {
        auto value = std::dynamic_pointer_cast<View>(argument);
        if (argument && !value) {
            throw std::invalid_argument(std::string("outlet \"") + outlet + "\" cannot hold a " +
                                        std::string(argument->className()));
        }
        (static_cast<ShareViewController&>(receiver).*setter)(value);
    };
}

platform::ClassInfo::Message action(
    void (ShareViewController::*method)(const platform::ObjectPtr&)) {
    return [method](platform::Object& receiver, const platform::ObjectPtr& sender) {
        (static_cast<ShareViewController&>(receiver).*method)(sender);
    };
}

[[maybe_unused]] const bool registered = platform::ClassRegistry::shared().registerClass({
    .name = ShareViewController::kClassName,
    .superclassName = "UIViewController",
    .initWithCoder = [](const platform::Coder& coder) -> platform::ObjectPtr {
        auto controller = std::make_shared<ShareViewController>();
        return controller->initWithCoder(coder) ? controller : nullptr;
    },
    .init = []() -> platform::ObjectPtr {
        auto controller = std::make_shared<ShareViewController>();
        return controller->initWithNibName(std::nullopt, nullptr) ? controller : nullptr;
    },
    .messages =
        {
            {"setSendButton:", outletSetter("sendButton", &ShareViewController::setSendButton)},
            {"setTextView:", outletSetter("textView", &ShareViewController::setTextView)},
            {"setActivityIndicator:",
             outletSetter("activityIndicator", &ShareViewController::setActivityIndicator)},
            {"sendButtonTouched:", action(&ShareViewController::sendButtonTouched)},
            {"cancelButtonTouched:", action(&ShareViewController::cancelButtonTouched)},
        },
    .methodList = {"sendButton", "setSendButton:", "textView", "setTextView:", "activityIndicator",
                   "setActivityIndicator:", "sendButtonTouched:", "cancelButtonTouched:",
                   "viewDidLoad",
                   "traitCollectionDidChange:", "initWithNibName:bundle:", "initWithCoder:"},
    .requiredOutlets = {"textView", "activityIndicator"},
});

}  // namespace

}  // namespace quorvane

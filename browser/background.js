// Send to Teleprompter: the selected text, or a page's readable text (its title as the first
// line), goes to the teleprompter's share window through native messaging. One source for
// Chromium (a service worker) and Firefox 121 or later (a background script: the manifest names
// this file both ways, and each browser takes the way it runs); plain JavaScript, no build.
//
// The messages (for other browsers' extensions that talk to the same host):
//   in:  {"action": "share", "text": TEXT, "show": true|false}
//   out: {"outcome": "sent", "path": PATH} | {"outcome": "cancelled"}
//        | {"outcome": "failed", "reason": WORDS}
// Framing is the browsers' own: the JSON's length in 4 bytes of the machine's byte order, then
// the UTF-8 JSON. The host takes one message of at most 16 MiB and answers once.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "app.quorvane.teleprompter.share";
const MENU_SELECTION = "send-selection";
const MENU_PAGE = "send-page";

function createMenus() {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({id: MENU_SELECTION, title: "Send to Teleprompter", contexts: ["selection"]});
    api.contextMenus.create({id: MENU_PAGE, title: "Send Page to Teleprompter", contexts: ["page"]});
  });
}
api.runtime.onInstalled.addListener(createMenus);
if (api.runtime.onStartup) api.runtime.onStartup.addListener(createMenus);

api.contextMenus.onClicked.addListener((info, tab) => {
  shareFromTab(info.menuItemId === MENU_SELECTION ? "selection" : "page", tab, info);
});
// The toolbar button: the selection when there is one, else the page.
api.action.onClicked.addListener((tab) => shareFromTab("auto", tab, {}));

// Runs in the page: the text to share. The selection exactly as the page gives it, or the
// page's rendered text under its title; and whether it is whole Unicode. A page's script can
// make a string holding half of a surrogate pair, which the browser turns into U+FFFD on its
// way out of the page: the text saved would not be the text shared, so that is told here.
function readFromPage(kind) {
  const selected = String(window.getSelection ? window.getSelection() : "");
  let text;
  if (kind === "selection" || (kind === "auto" && selected !== "")) {
    text = selected;
  } else {
    const title = (document.title || "").trim();
    const body = document.body ? document.body.innerText : document.documentElement.innerText;
    text = title !== "" ? title + "\n" + body : body;
  }
  return {text, broken: /[\uD800-\uDFFF]/u.test(text)};
}

const NOT_UNICODE = "the text is not valid Unicode (it holds half of a character), so it cannot be saved exactly";

async function textOf(kind, tab, info) {
  let read = null;
  try {
    const [result] = await api.scripting.executeScript({
      target: {tabId: tab.id}, func: readFromPage, args: [kind]});
    read = result && result.result;
  } catch (error) {
    // Pages the browser keeps from extensions (its own pages, the web store, PDF viewers):
    // the context menu still knows the selected text.
  }
  if (read && typeof read.text === "string") {
    if (read.broken) throw new Error(NOT_UNICODE);
    return read.text;
  }
  if (kind !== "page" && info && typeof info.selectionText === "string" && info.selectionText !== "")
    return info.selectionText;
  throw new Error("the browser does not let extensions read this page; copy the text and use " +
                  "Send to Teleprompter from the menu instead");
}

// Sends `text` to the host and returns its reply (never throws).
async function sendText(text) {
  // Likewise for a text from elsewhere than the page (see readFromPage).
  if (/[\uD800-\uDFFF]/u.test(text)) return {outcome: "failed", reason: NOT_UNICODE};
  const {sendWithoutWindow} = await api.storage.local.get({sendWithoutWindow: false});
  try {
    const reply = await api.runtime.sendNativeMessage(HOST, {action: "share", text, show: !sendWithoutWindow});
    if (reply && typeof reply.outcome === "string") return reply;
    return {outcome: "failed", reason: "the teleprompter's share program gave no answer"};
  } catch (error) {
    return {outcome: "failed",
            reason: "the teleprompter's share program could not be reached (" + String(error.message || error) +
                    "); is quorvane-share-desktop installed?"};
  }
}

// Shows the outcome on the toolbar button: a mark, and the words in its tooltip.
async function showOutcome(reply, tabId) {
  const looks = {
    sent: {badge: "✓", colour: "#2e7d32", title: "Sent to the teleprompter"},
    cancelled: {badge: "", colour: "#616161", title: "Not sent: the share was closed"},
    failed: {badge: "!", colour: "#c62828", title: "Not sent: " + (reply.reason || "the share failed")},
  }[reply.outcome] || {badge: "?", colour: "#c62828", title: "Unknown outcome"};
  const target = tabId === undefined ? {} : {tabId};
  try {
    await api.action.setBadgeBackgroundColor({...target, color: looks.colour});
    await api.action.setBadgeText({...target, text: looks.badge});
    await api.action.setTitle({...target, title: looks.title});
  } catch (error) {
    // The tab may have closed meanwhile; the outcome is still returned.
  }
  lastOutcome = reply;
  // A failure, and a send nobody saw (no window), are also said where a person looks.
  const {sendWithoutWindow} = await api.storage.local.get({sendWithoutWindow: false});
  if (reply.outcome === "failed" || (reply.outcome === "sent" && sendWithoutWindow)) {
    try {
      await api.notifications.create({
        type: "basic", iconUrl: api.runtime.getURL("icons/icon-128.png"), title: "Send to Teleprompter",
        message: reply.outcome === "sent" ? "Sent to the teleprompter" : "Not sent: " + (reply.reason || "the share failed")});
    } catch (error) {
      // No notification service: the toolbar button still shows it.
    }
  }
}

let lastOutcome = null;

// One share from a tab: kind is "selection", "page" or "auto". Returns the host's reply.
async function shareFromTab(kind, tab, info) {
  let reply;
  try {
    const text = await textOf(kind, tab, info);
    reply = text === ""
      ? {outcome: "failed", reason: kind === "page" ? "the page has no text" : "no text is selected"}
      : await sendText(text);
  } catch (error) {
    reply = {outcome: "failed", reason: String(error.message || error)};
  }
  await showOutcome(reply, tab && tab.id);
  return reply;
}

// For automated checks: the same paths a click takes, and the last outcome shown.
globalThis.sendToTeleprompter = {shareFromTab, sendText, lastOutcome: () => lastOutcome};

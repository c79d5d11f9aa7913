// The browser extension in Debian's Chromium, headless, driven by playwright-core: on a local
// page, a selection and a page shared with "send without showing the window" land in the
// import folder byte for byte, the outcome reaches the extension (its toolbar button shows it),
// and refused texts come back as failures with the reason: one over the host's cap (refused by
// the host), and one the browser cannot encode as UTF-8 (a lone surrogate, which the browser
// would silently turn into U+FFFD: refused by the extension before it is sent).
//
// The context menu and the toolbar button cannot be clicked headless, so the test calls the
// function their clicks call, in the extension's own service worker. Those clicks grant the
// extension the page (activeTab); a call from the test is not a click, so the copy of the
// extension loaded here also holds a host permission for the test's local server, and nothing
// else differs.
//
//   node browser_extension_test.mjs HOST_PROGRAM EXTENSION_DIR NODE_DIR
import {createRequire} from "node:module";
import {createServer} from "node:http";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [hostProgram, extensionSource, nodeDir] = process.argv.slice(2);
const require = createRequire(path.join(nodeDir, "package.json"));
const {chromium} = require("playwright-core");

const work = fs.mkdtempSync(path.join(os.tmpdir(), "browser-extension-"));
const containers = path.join(work, "containers");
const imported = path.join(containers, "group.app.quorvane.teleprompter", "regular", "imported");
const extensionId = "pacoafdhbjgfpdpgkiegajpbaapdgjcg";
let failures = 0;
function check(condition, message) {
  if (!condition) {
    console.error("FAIL: " + message);
    failures++;
  }
}

// The extension as packaged, plus the host permission for the local server (see above).
const extension = path.join(work, "extension");
fs.cpSync(extensionSource, extension, {recursive: true});
const manifest = JSON.parse(fs.readFileSync(path.join(extension, "manifest.json"), "utf8"));
manifest.host_permissions = ["http://127.0.0.1/*"];
fs.writeFileSync(path.join(extension, "manifest.json"), JSON.stringify(manifest));

// The host's manifest where this profile's Chromium looks for it.
const profile = path.join(work, "profile");
fs.mkdirSync(path.join(profile, "NativeMessagingHosts"), {recursive: true});
fs.writeFileSync(path.join(profile, "NativeMessagingHosts", "app.quorvane.teleprompter.share.json"),
  JSON.stringify({name: "app.quorvane.teleprompter.share", description: "Send to Teleprompter",
                  path: hostProgram, type: "stdio", allowed_origins: [`chrome-extension://${extensionId}/`]}));

// A page with what makes a text hard to keep exact: several lines and paragraphs, tabs, spaces
// at the ends, emoji, right-to-left words, combining marks.
const page = `<!doctype html><html><head><meta charset="utf-8"><title>  Evening news 📰 </title></head>
<body><h1>Evening news</h1>
<p id="selected">Good evening.  Here is the news:\tfirst,
a headline ✨ שלום עולם, café e\u0301, 👩‍👩‍👧 ends </p>
<pre>  indented line
second line</pre>
<p id="lone"></p>
</body></html>`;
const server = createServer((request, response) => {
  response.writeHead(200, {"content-type": "text/html; charset=utf-8"});
  response.end(page);
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const url = `http://127.0.0.1:${server.address().port}/news.html`;

const context = await chromium.launchPersistentContext(profile, {
  executablePath: "/usr/bin/chromium",
  headless: false,  // the flags below choose the new headless mode, which runs extensions
  args: ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         `--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
  // No display for the share window: the headless browser needs none.
  env: Object.fromEntries(Object.entries({...process.env, QUORVANE_CONTAINER_ROOT: containers})
    .filter(([name]) => !["DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"].includes(name))),
});
try {
  let [worker] = context.serviceWorkers();
  if (!worker) worker = await context.waitForEvent("serviceworker", {timeout: 30000});
  check(worker.url().startsWith(`chrome-extension://${extensionId}/`), `the extension's id is not ${extensionId}: ${worker.url()}`);
  const tab = await context.newPage();
  await tab.goto(url);
  const tabId = await worker.evaluate(async (url) => {
    const tabs = await chrome.tabs.query({url});
    return tabs[0].id;
  }, url);
  // The option "send without showing the window".
  await worker.evaluate(() => chrome.storage.local.set({sendWithoutWindow: true}));
  const share = (kind) => worker.evaluate(async ([kind, tabId]) => {
    const tab = await chrome.tabs.get(tabId);
    const reply = await globalThis.sendToTeleprompter.shareFromTab(kind, tab, {});
    return {reply, badge: await chrome.action.getBadgeText({tabId}), title: await chrome.action.getTitle({tabId})};
  }, [kind, tabId]);
  const waiting = () => (fs.existsSync(imported) ? fs.readdirSync(imported) : []);

  // Each share: exactly one new file in the import folder, holding exactly the text.
  const cases = [
    ["selection", async () => {
      await tab.evaluate(() => {
        const range = document.createRange();
        range.selectNodeContents(document.getElementById("selected"));
        getSelection().removeAllRanges();
        getSelection().addRange(range);
      });
      return tab.evaluate(() => String(getSelection()));
    }],
    ["page", () => tab.evaluate(() => document.title.trim() + "\n" + document.body.innerText)],
  ];
  for (const [kind, expect] of cases) {
    const expected = await expect();
    const before = new Set(waiting());
    const {reply, badge, title} = await share(kind);
    check(reply.outcome === "sent", `${kind}: the outcome is ${JSON.stringify(reply)}`);
    const added = waiting().filter((name) => !before.has(name));
    check(added.length === 1, `${kind}: ${added.length} new files in the import folder`);
    if (added.length === 1) {
      const file = path.join(imported, added[0]);
      check(reply.path === file, `${kind}: the reply names ${reply.path}, the file is ${file}`);
      const saved = fs.readFileSync(file);
      check(saved.equals(Buffer.from(expected, "utf8")),
        `${kind}: the saved bytes differ from the text shared:\n${JSON.stringify(saved.toString("utf8"))}\n${JSON.stringify(expected)}`);
    }
    check(badge === "✓" && title === "Sent to the teleprompter", `${kind}: the button shows '${badge}' '${title}'`);
    console.log(`${kind}: sent ${Buffer.byteLength(expected)} bytes exactly; the button shows ${badge}`);
  }

  // Refused, with the reason back in the extension: a text the browser cannot encode as UTF-8
  // (a lone surrogate) and one over the host's 16 MiB cap.
  // The texts are made in the page: a lone surrogate would not survive the trip from here.
  const refusals = [
    ["a lone surrogate", "lone", /not valid Unicode/],
    ["17 MiB", "large", /too large/],
  ];
  for (const [name, make, reason] of refusals) {
    await tab.evaluate((make) => {
      const node = document.getElementById("lone");
      node.textContent = make === "lone" ? String.fromCharCode(0xd800) + " alone" : "x".repeat(17 * 1024 * 1024);
      const range = document.createRange();
      range.selectNodeContents(node);
      getSelection().removeAllRanges();
      getSelection().addRange(range);
    }, make);
    const before = waiting().length;
    const {reply, badge, title} = await share("selection");
    check(reply.outcome === "failed" && reason.test(reply.reason || ""),
      `${name}: expected a failure matching ${reason}, got ${JSON.stringify(reply).slice(0, 300)}`);
    check(badge === "!" && title === "Not sent: " + reply.reason, `${name}: the button shows '${badge}' '${title}'`);
    check(waiting().length === before, `${name}: a file was saved`);
    console.log(`${name}: refused (${reply.reason})`);
  }

  // Without the option the host is asked for the window (show: true), which here, with no
  // display for it, answers with that reason; nothing is saved.
  await worker.evaluate(() => chrome.storage.local.set({sendWithoutWindow: false}));
  await tab.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.getElementById("selected"));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
  });
  const before = waiting().length;
  const {reply} = await share("selection");
  check(reply.outcome === "failed" && /no display/.test(reply.reason || ""),
    `the window without a display: ${JSON.stringify(reply)}`);
  check(waiting().length === before, "the window without a display: a file was saved");
  console.log(`the window asked for: ${reply.reason}`);
} finally {
  await context.close();
  server.close();
  fs.rmSync(work, {recursive: true, force: true});
}
if (failures > 0) process.exit(1);

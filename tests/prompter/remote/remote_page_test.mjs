// The phone remote in Debian's Chromium, headless, at a phone's size with touch, driven by
// playwright-core, against a real prompter (Qt's headless platform) on loopback: the page loads
// with the token; a tap on Pause pauses the prompter (seen in its state), Faster, Slower and
// the paragraph jumps work and the page shows the lines at the reading line; a script pasted
// on the phone lands in the library and is prompted; a reload and a
// restart of the prompter reconnect by themselves (the page saying so meanwhile); without the
// token, and from another site's page, nothing moves. Also the page's weight, and with
// SCREENSHOT set, a picture of the page for the README.
//
//   node remote_page_test.mjs PROMPTER NODE_DIR [SCREENSHOT]
import {createRequire} from "node:module";
import {createServer} from "node:http";
import {spawn} from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [prompter, nodeDir, screenshot] = process.argv.slice(2);
const require = createRequire(path.join(nodeDir, "package.json"));
const {chromium} = require("playwright-core");

const token = "page-test-token-0123456789";
const work = fs.mkdtempSync(path.join(os.tmpdir(), "remote-page-"));
let failures = 0;
function check(condition, message) {
  if (!condition) {
    console.error("FAIL: " + message);
    failures++;
  }
}

const script = path.join(work, "script.txt");
fs.writeFileSync(script, "# Good evening, and welcome to the show.\n" +
  Array.from({length: 11}, (_, i) => (i === 6 ? "# The second part\n" : "") + `Paragraph ${i + 2}: ` +
             "words to read aloud at a steady pace ".repeat(6)).join("\n") + "\n");

// The prompter, serving the remote; resolves with its port once it prints it.
let child = null;
function startPrompter(port) {
  child = spawn(prompter, ["--window", "--prompt", script, "--countdown", "0", "--speed", "140",
                           "--remote", `127.0.0.1:${port}`], {
    env: {...process.env, QT_QPA_PLATFORM: "offscreen", HOME: work, XDG_DATA_HOME: path.join(work, "data"),
          XDG_CONFIG_HOME: path.join(work, "config"), QUORVANE_CONTAINER_ROOT: path.join(work, "containers"),
          QUORVANE_REMOTE_TOKEN: token},
    stdio: ["ignore", "pipe", "inherit"],
  });
  return new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const found = out.match(/Remote control on port (\d+)/);
      if (found) resolve(Number(found[1]));
    });
    child.on("exit", (code) => reject(new Error(`the prompter exited (${code}) before serving`)));
  });
}
function stopPrompter() {
  return new Promise((resolve) => {
    child.on("exit", resolve);
    child.kill("SIGTERM");
  });
}

const port = await startPrompter(0);
const base = `http://127.0.0.1:${port}`;
async function state() {
  const reply = await fetch(`${base}/api/state`, {headers: {authorization: `Bearer ${token}`}});
  return (await reply.json()).state;
}
async function until(what, condition, ms = 10000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) {
      check(false, `timed out waiting for ${what}`);
      return value;
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// Another site, whose page tries the same commands with the right token.
const evil = createServer((request, response) => {
  response.writeHead(200, {"content-type": "text/html"});
  response.end(`<!doctype html><script>
    window.result = new Promise((resolve) => {
      const socket = new WebSocket("ws://127.0.0.1:${port}/ws?token=${token}");
      socket.onopen = () => { socket.send('{"command": "resume"}'); resolve("opened"); };
      socket.onerror = () => resolve("refused");
    });
    fetch("http://127.0.0.1:${port}/api/resume?token=${token}", {method: "POST", mode: "no-cors"}).catch(() => {});
    fetch("http://127.0.0.1:${port}/api/jump?token=${token}", {method: "POST", mode: "no-cors",
      body: '{"paragraph": 9}'}).catch(() => {});
  </script>`);
});
await new Promise((resolve) => evil.listen(0, "127.0.0.1", resolve));

const profile = fs.mkdtempSync(path.join(work, "profile-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: "/usr/bin/chromium",
  headless: false,  // the flags below choose headless mode
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  viewport: {width: 390, height: 844}, deviceScaleFactor: 2, isMobile: true, hasTouch: true,
});
try {
  const page = await context.newPage();
  const started = Date.now();
  const response = await page.goto(`${base}/?token=${token}`);
  check(response.status() === 200, `the page answered ${response.status()}`);
  console.log(`the page showed ${Date.now() - started} ms after it was asked for`);
  await page.waitForSelector("#link:not(.offline)", {timeout: 10000});
  console.log(`the page connected ${Date.now() - started} ms after it was asked for`);
  let bytes = 0;
  for (const name of ["/", "/remote.css", "/remote.js"])
    bytes += (await (await fetch(`${base}${name}?token=${token}`)).arrayBuffer()).byteLength;
  check(bytes < 100 * 1024, `the page and its assets weigh ${bytes} bytes`);
  console.log(`the page and its assets: ${bytes} bytes`);

  check((await state()).running, "the prompter was not running at the start");
  await page.tap("#pause");
  await until("the prompter to pause", async () => !(await state()).running);
  await until("the button to offer Resume", async () => (await page.textContent("#pause")) === "Resume");
  await page.tap("#faster");
  await until("the speed to go up", async () => (await state()).speed === 150);
  await page.tap("#slower");
  await page.tap("#slower");
  await until("the speed to come down", async () => (await state()).speed === 130);
  const first = (await state()).paragraph;
  await page.tap("#on");
  await until("the next paragraph", async () => (await state()).paragraph === first + 1);
  await page.tap("#on");
  await until("the paragraph after", async () => (await state()).paragraph === first + 2);
  await page.tap("#back");
  await until("a paragraph back", async () => (await state()).paragraph === first + 1);
  // The sections, one button each.
  await page.tap("#sectionList li:nth-child(2) button");
  await until("the second section", async () => (await state()).section === 2);
  check((await page.textContent("#sectionList li:nth-child(2) button")) === "The second part",
        "the second section's button is not named for it");
  await page.tap("#back");
  await until("a paragraph back, out of the second section", async () => (await state()).section === 1);
  const lines = (await state()).lines;
  await until("the page to show the line at the reading line",
              async () => (await page.textContent("#current")) === lines[0]);
  check((await page.textContent("#motion")).includes("Paused"), "the page does not say it is paused");
  if (screenshot) await page.screenshot({path: screenshot});

  // A reload connects again.
  await page.reload();
  await page.waitForSelector("#link:not(.offline)", {timeout: 10000});
  await page.tap("#pause");  // reads Resume: the prompter is paused
  await until("the prompter to resume after a reload", async () => (await state()).running);
  await page.tap("#pause");
  await until("the prompter to pause again", async () => !(await state()).running);

  // Without the token, and from another site's page, nothing moves.
  const held = await state();
  const stranger = await context.newPage();
  const refused = await stranger.goto(`${base}/`);
  check(refused.status() === 403, `the page without its token answered ${refused.status()}`);
  check((await stranger.textContent("body")).trim() === "Forbidden", "a refusal says more than Forbidden");
  await stranger.goto(`http://127.0.0.1:${evil.address().port}/`);
  check(await stranger.evaluate(() => window.result) === "refused", "another site's page opened the socket");
  await new Promise((resolve) => setTimeout(resolve, 500));  // for its POSTs to arrive, if any would
  const after = await state();
  check(!after.running && after.paragraph === held.paragraph && after.position === held.position,
        `another site's page moved the prompter: ${JSON.stringify(after)}`);
  await stranger.close();

  // A script pasted on the phone becomes a script in the library, prompted at once.
  await page.click("#add summary");
  await page.fill("#text", "Notes pasted on the phone\nSay hello to the crew.\n");
  await page.tap("#addPrompt");
  await until("the pasted script to be prompted",
              async () => (await state()).script === "Notes pasted on the phone");
  await until("the page to show it", async () => (await page.textContent("#script")) === "Notes pasted on the phone");
  const scripts = fs.readdirSync(path.join(work, "Teleprompter"));
  check(scripts.some((name) => fs.readFileSync(path.join(work, "Teleprompter", name), "utf8") ===
                               "Notes pasted on the phone\nSay hello to the crew.\n"),
        `the pasted script is not in the library: ${scripts}`);

  // The prompter restarts on the same port: the page says it is not connected, then is again.
  await stopPrompter();
  await page.waitForSelector("#link.offline", {timeout: 10000});
  check((await page.textContent("#link")).startsWith("Not connected"), "the page does not say it lost the prompter");
  await startPrompter(port);
  await page.waitForSelector("#link:not(.offline)", {timeout: 20000});
  await until("the restarted prompter to run", async () => (await state()).running);
  await page.tap("#pause");
  await until("the restarted prompter to pause from the page", async () => !(await state()).running);
} finally {
  await context.close();
  evil.close();
  if (child && child.exitCode === null) await stopPrompter();
  fs.rmSync(work, {recursive: true, force: true});
}
if (failures > 0) process.exit(1);
console.log("the remote page drives the prompter, reconnects, and refuses strangers");

// The phone remote: sends the teleprompter commands over its WebSocket and shows its state.
// It reconnects by itself, and says so plainly while it is not connected.
"use strict";

const token = new URLSearchParams(location.search).get("token") || "";
const $ = (id) => document.getElementById(id);
const buttons = Array.from(document.querySelectorAll("button"));
const maxScriptBytes = 1024 * 1024 - 1024; // the server's bound on a message, less the wrapping
let socket = null;
let state = null;
let retryMs = 500;
let everConnected = false;

function showLink(connected, text) {
  $("link").textContent = text;
  $("link").classList.toggle("offline", !connected);
  for (const button of buttons) button.disabled = !connected;
}

function send(command) {
  if (!socket || socket.readyState !== WebSocket.OPEN) {
    $("reply").textContent = "Not connected: that did not reach the teleprompter.";
    return false;
  }
  socket.send(JSON.stringify(command));
  return true;
}

function words(value) {
  return Math.round(value) + " words a minute";
}

function render() {
  const s = state;
  if (!s) return;
  $("script").textContent = s.script === null ? "Nothing is being prompted" : s.script;
  let motion;
  if (s.script === null) motion = "The teleprompter shows its library.";
  else if (s.countingDown) motion = "Counting down · " + words(s.speed);
  else if (s.running) motion = "Running · " + words(s.speed);
  else motion = "Paused · " + words(s.speed);
  if (s.script !== null)
    motion += " · paragraph " + s.paragraph + (s.counting ? " · counting words…" : " of " + s.paragraphs);
  if (s.following) motion += " · following the voice";
  if (!s.connected) motion += " · holding: the prompter it follows is not answering";
  $("motion").textContent = motion;
  $("current").textContent = s.lines[0] || "";
  $("next").textContent = s.lines.slice(1).join(" ");
  $("progress").value = s.length > 0 && !s.counting ? s.position / s.length : 0;
  $("pause").textContent = s.running ? "Pause" : "Resume";
  const list = $("sectionList");
  $("sections").hidden = s.sections.length === 0;
  if (list.childElementCount !== s.sections.length ||
      Array.from(list.children).some((item, i) => item.firstChild.textContent !== s.sections[i])) {
    list.replaceChildren(...s.sections.map((title, i) => {
      const item = document.createElement("li");
      const button = document.createElement("button");
      button.textContent = title;
      button.addEventListener("click", () => send({ command: "jump", section: i + 1 }));
      item.append(button);
      return item;
    }));
  }
  Array.from(list.children).forEach((item, i) =>
    item.firstChild.classList.toggle("current", s.section === i + 1));
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  socket = new WebSocket(scheme + location.host + "/ws?token=" + encodeURIComponent(token));
  socket.addEventListener("open", () => {
    everConnected = true;
    retryMs = 500;
    showLink(true, "Connected to the teleprompter");
    $("reply").textContent = "";
  });
  socket.addEventListener("message", (event) => {
    let message;
    try { message = JSON.parse(event.data); } catch { return; }
    if (message.state) { state = message.state; render(); }
    else if (message.error) $("reply").textContent = message.error;
    else if (message.ok === "add") { $("text").value = ""; $("reply").textContent = "Script added."; }
    else if (message.ok) $("reply").textContent = "";
  });
  socket.addEventListener("close", () => {
    socket = null;
    const seconds = Math.round(retryMs / 100) / 10;
    showLink(false, (everConnected ? "Not connected: the teleprompter is not answering." :
      "Not connected.") + " Trying again in " + seconds + " s…");
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  });
}

$("start").addEventListener("click", () => send({ command: "start" }));
$("pause").addEventListener("click", () => send({ command: state && state.running ? "pause" : "resume" }));
$("faster").addEventListener("click", () => send({ command: "faster" }));
$("slower").addEventListener("click", () => send({ command: "slower" }));
// Relative jumps, so that quick taps each count even before the state has caught up.
$("back").addEventListener("click", () => send({ command: "jump", by: -1 }));
$("on").addEventListener("click", () => send({ command: "jump", by: 1 }));
$("screenBack").addEventListener("click", () => send({ command: "screens", value: -1 }));
$("screenOn").addEventListener("click", () => send({ command: "screens", value: 1 }));

function addScript(prompt) {
  const text = $("text").value;
  if (!text.trim()) { $("reply").textContent = "Paste the script's text first."; return; }
  if (new TextEncoder().encode(text).length > maxScriptBytes) {
    $("reply").textContent = "That script is too long to send from here (at most 1 MB).";
    return;
  }
  if (send({ command: "add", text, prompt })) $("reply").textContent = "Sending the script…";
}
$("addPrompt").addEventListener("click", () => addScript(true));
$("addOnly").addEventListener("click", () => addScript(false));

showLink(false, "Connecting to the teleprompter…");
connect();

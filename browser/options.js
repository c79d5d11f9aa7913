"use strict";
const api = globalThis.browser ?? globalThis.chrome;
const box = document.getElementById("sendWithoutWindow");
api.storage.local.get({sendWithoutWindow: false}).then(({sendWithoutWindow}) => {
  box.checked = sendWithoutWindow;
});
box.addEventListener("change", () => api.storage.local.set({sendWithoutWindow: box.checked}));

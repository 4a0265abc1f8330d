"use strict";

const box = document.getElementById("shareTabContext");
chrome.storage.local.get("shareTabContext").then(({ shareTabContext }) => {
  box.checked = Boolean(shareTabContext);
});
box.addEventListener("change", () => {
  chrome.storage.local.set({ shareTabContext: box.checked });
});

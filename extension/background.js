// Relays what the chat pages report to Tessarine through its native-messaging host, and
// brings a tab to the front when Tessarine asks for it. Nothing leaves this computer.
"use strict";

const HOST = "app.kestrune.host";
const EVENTS = new Set(["generation_started", "response_complete"]);
let port = null;

function connect() {
  try {
    port = chrome.runtime.connectNative(HOST);
  } catch (error) {
    port = null;
    return;
  }
  port.onMessage.addListener(onHostMessage);
  port.onDisconnect.addListener(() => {
    port = null; // Tessarine's host is not installed, or it ended; the next message retries
  });
}

function post(message) {
  if (!port) connect();
  if (!port) return;
  try {
    port.postMessage(message);
  } catch (error) {
    port = null;
  }
}

function dataFavicon(tab) {
  return tab && typeof tab.favIconUrl === "string" && tab.favIconUrl.startsWith("data:image/")
    ? tab.favIconUrl
    : undefined;
}

async function focusTab(tabId) {
  try {
    const tab = await chrome.tabs.update(tabId, { active: true });
    await chrome.windows.update(tab.windowId, { focused: true });
    console.info(`Tessarine: focused tab ${tabId}`);
  } catch (error) {
    console.info(`Tessarine: tab ${tabId} is gone`);
  }
}

function onHostMessage(message) {
  if (message && message.action === "focus_tab" && Number.isInteger(message.tabId)) {
    console.info(`Tessarine: focus_tab ${message.tabId}`);
    focusTab(message.tabId);
  }
}

chrome.runtime.onMessage.addListener((message, sender) => {
  if (!sender.tab || !message || !EVENTS.has(message.event)) return;
  post({
    site: message.site,
    event: message.event,
    tabId: sender.tab.id,
    title: message.title,
    url: message.url,
    prompt: message.prompt,
    favicon: dataFavicon(sender.tab),
  });
});

// The address of the tab in front, only when the user allowed it in the options.
async function shareTabContext(tab) {
  const { shareTabContext: allowed } = await chrome.storage.local.get("shareTabContext");
  if (!allowed || !tab || !tab.active || typeof tab.url !== "string") return;
  let address;
  try {
    address = new URL(tab.url);
  } catch (error) {
    return;
  }
  if (address.protocol !== "https:" && address.protocol !== "http:") return;
  post({
    event: "tab_context",
    origin: address.origin,
    path: address.pathname,
    tabId: tab.id,
    title: tab.title,
    favicon: dataFavicon(tab),
  });
}

chrome.tabs.onActivated.addListener(({ tabId }) => {
  chrome.tabs.get(tabId).then(shareTabContext, () => {});
});
chrome.tabs.onUpdated.addListener((tabId, change, tab) => {
  if (change.status === "complete") shareTabContext(tab);
});

// An open native port keeps this worker alive, so focus requests can arrive at any time.
connect();

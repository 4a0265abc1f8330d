// Shared by the site scripts: a chat is generating while its stop control is on the page.
// The control appearing starts a generation; it staying gone for a moment ends it (chats
// swap the control briefly between steps of one answer).
"use strict";

globalThis.tessarineWatchStopControl = function watchStopControl({ site, stopSelectors, promptSelectors }) {
  const APPEAR_MS = 250;
  const DISAPPEAR_MS = 1500;
  let generating = false;
  let pendingChange = null;

  function visible(element) {
    return element.isConnected && element.getClientRects().length > 0;
  }

  function stopControlShown() {
    return stopSelectors.some((selector) =>
      Array.from(document.querySelectorAll(selector)).some(visible));
  }

  function lastPrompt() {
    for (const selector of promptSelectors) {
      const prompts = document.querySelectorAll(selector);
      if (prompts.length > 0) {
        const text = prompts[prompts.length - 1].innerText.trim();
        if (text) return text.slice(0, 2000);
      }
    }
    return undefined;
  }

  function report(event) {
    const message = { site, event, title: document.title, url: location.href };
    if (event === "response_complete") {
      const prompt = lastPrompt();
      if (prompt) message.prompt = prompt;
    }
    try {
      chrome.runtime.sendMessage(message).catch(() => {});
    } catch (error) {
      // The extension was reloaded; this page's script is orphaned.
    }
  }

  function settle() {
    pendingChange = null;
    const shown = stopControlShown();
    if (shown === generating) return;
    generating = shown;
    report(shown ? "generation_started" : "response_complete");
  }

  function check() {
    const shown = stopControlShown();
    if (shown === generating) {
      if (pendingChange) {
        clearTimeout(pendingChange);
        pendingChange = null;
      }
      return;
    }
    if (!pendingChange) pendingChange = setTimeout(settle, shown ? APPEAR_MS : DISAPPEAR_MS);
  }

  new MutationObserver(check).observe(document.documentElement, {
    childList: true,
    subtree: true,
    attributes: true,
    attributeFilter: ["aria-label", "data-testid", "disabled", "hidden", "style", "class"],
  });
  check();
};

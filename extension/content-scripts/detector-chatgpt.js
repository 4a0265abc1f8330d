"use strict";

tessarineWatchStopControl({
  site: "chatgpt",
  stopSelectors: [
    'button[data-testid="stop-button"]',
    'button[aria-label="Stop streaming"]',
    'button[aria-label="Stop generating"]',
  ],
  promptSelectors: ['[data-message-author-role="user"]'],
});

"use strict";

tessarineWatchStopControl({
  site: "gemini",
  stopSelectors: [
    'button[aria-label="Stop response"]',
    'button.stop[aria-label]',
    'mat-icon[fonticon="stop"]',
  ],
  promptSelectors: ["user-query .query-text", "user-query"],
});

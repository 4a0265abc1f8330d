"use strict";

tessarineWatchStopControl({
  site: "claude",
  stopSelectors: ['button[aria-label="Stop response"]', 'button[aria-label="Stop Response"]'],
  promptSelectors: ['[data-testid="user-message"]'],
});

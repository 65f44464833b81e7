// The console's start: tabs, and each pane started the first time it is shown.
import { loadDevice } from "./device.js";
import { setPollOwner } from "./api.js";
import { followLog, scrollLog } from "./log.js";
import { refreshScreen, setUpScreen } from "./screen.js";
import { setUpUpdate } from "./update.js";
import { loadVariables } from "./variables.js";

const firstShow = {
  log: followLog,
  screen: () => (setUpScreen(), refreshScreen()),
  device: loadDevice,
  update: setUpUpdate,
};

// Each pane's start runs once, whichever pane asks for it first.
function showFirst(pane) {
  const start = firstShow[pane];
  delete firstShow[pane];
  start?.();
}

const tabs = [...document.querySelectorAll('[role="tab"]')];

function select(tab) {
  for (const other of tabs) {
    const chosen = other === tab;
    other.setAttribute("aria-selected", chosen);
    other.tabIndex = chosen ? 0 : -1;
    document.getElementById(other.getAttribute("aria-controls")).hidden = !chosen;
  }
  const pane = tab.getAttribute("aria-controls");
  // The log's requests wait while it is shown; the change feed's the rest of the time.
  setPollOwner(pane === "log" ? "log" : "variables");
  showFirst(pane);
  if (pane === "log") scrollLog();
}

for (const tab of tabs) {
  tab.addEventListener("click", () => select(tab));
  // Arrow keys move between the tabs, as in any tab list.
  tab.addEventListener("keydown", (event) => {
    const step = { ArrowRight: 1, ArrowLeft: -1 }[event.key];
    if (!step) return;
    const next = tabs[(tabs.indexOf(tab) + step + tabs.length) % tabs.length];
    next.focus();
    select(next);
  });
}

loadVariables();

// The screen pane: the unit's display as the screenshot route captures it.
const image = () => document.getElementById("screen-image");
let timer;

export function setUpScreen() {
  image().addEventListener("load", () => {
    document.getElementById("screen-size").textContent = `${image().naturalWidth} × ${image().naturalHeight}`;
  });
  document.getElementById("screen-refresh").addEventListener("click", refreshScreen);
  document.getElementById("screen-auto").addEventListener("change", (event) => {
    clearInterval(timer);
    if (event.target.checked) timer = setInterval(refreshScreen, 3000);
  });
}

export function refreshScreen() {
  image().src = `/api/v1/screen.cgi?at=${Date.now()}`;
}

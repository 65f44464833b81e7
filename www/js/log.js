// The kernel-log pane: follows log.cgi from the length already shown and builds the coloured spans
// itself, so nothing from the log is ever parsed as markup.
import { delay, el, longPoll, showStatus } from "./api.js";

const pane = () => document.getElementById("log-text");
const SPAN = /<span style='([^']*)'>|<\/span>/g;
const STYLE = /^(color|background-color): (#[0-9a-fA-F]{6})$/;
const ENTITY = /&(lt|gt|amp|quot|#39|#x27);/g;
const ENTITIES = { lt: "<", gt: ">", amp: "&", quot: '"', "#39": "'", "#x27": "'" };
const KEPT_NODES = 20000;

let open = []; // spans not yet closed, innermost last
let carry = ""; // a tag or entity cut by the end of a chunk
let stick = true; // the pane follows new lines until the user scrolls up

function atBottom(target) {
  return target.scrollTop + target.clientHeight >= target.scrollHeight - 8;
}

// Called whenever the pane becomes visible: a hidden pane cannot scroll.
export function scrollLog() {
  if (stick) pane().scrollTop = pane().scrollHeight;
}

export async function followLog() {
  pane().addEventListener("scroll", () => pane().offsetParent && (stick = atBottom(pane())));
  const decoder = new TextDecoder();
  let offset = 0;
  for (;;) {
    try {
      // Asked only while the log is on screen.
      const answer = await longPoll("log", `/api/v1/log.cgi?offset=${offset}`);
      const bytes = new Uint8Array(await answer.arrayBuffer());
      const lineEnd = bytes.indexOf(10);
      const lengthAtArrival = Number(new TextDecoder().decode(bytes.subarray(0, lineEnd)));
      // The unit sends from our offset when it had that much. When it has dropped the text there, it
      // sends from its oldest line kept and says where that starts; else it sends all it keeps.
      const keptFrom = answer.headers.get("X-Log-Start");
      const follows = keptFrom === null && offset > 0 && offset <= lengthAtArrival;
      if (!follows && offset > 0) reset();
      const data = bytes.subarray(lineEnd + 1);
      append(decoder.decode(data, { stream: true }));
      // A whole-log answer is sent at once and ends at the length line, also when the unit has dropped
      // its oldest part; any other answer ends where its data does.
      if (keptFrom !== null) offset = Number(keptFrom) + data.length;
      else offset = follows ? offset + data.length : lengthAtArrival;
      if (offset === 0) await delay(1000); // an empty log is answered at once
    } catch (error) {
      showStatus(`Kernel log interrupted (${error.message}); retrying`, true);
      await delay(2000);
    }
  }
}

function reset() {
  pane().replaceChildren();
  open = [];
  carry = "";
}

function append(html) {
  const target = pane();
  html = carry + html;
  carry = unfinishedTail(html);
  html = html.slice(0, html.length - carry.length);

  let last = 0;
  for (const match of html.matchAll(SPAN)) {
    addText(html.slice(last, match.index));
    last = match.index + match[0].length;
    if (match[1] === undefined) {
      open.pop();
      continue;
    }
    const span = el("span");
    const style = STYLE.exec(match[1]);
    if (style) span.style.setProperty(style[1], style[2]);
    (open.at(-1) ?? target).append(span);
    open.push(span);
  }
  addText(html.slice(last));

  if (open.length === 0 && target.childNodes.length > KEPT_NODES) {
    const range = document.createRange();
    range.setStart(target, 0);
    range.setEnd(target, target.childNodes.length - KEPT_NODES / 2);
    range.deleteContents();
  }
  scrollLog();
}

// A tag or entity the chunk ends inside waits for the rest in the next chunk.
function unfinishedTail(html) {
  const tag = html.lastIndexOf("<");
  if (tag >= 0 && !html.includes(">", tag)) return html.slice(tag);
  const entity = html.lastIndexOf("&");
  return entity >= 0 && !html.includes(";", entity) ? html.slice(entity) : "";
}

function addText(text) {
  if (text) (open.at(-1) ?? pane()).append(text.replace(ENTITY, (_, name) => ENTITIES[name]));
}

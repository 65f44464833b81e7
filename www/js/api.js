// Requests to the unit and the small helpers every pane shares.

export const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The answer of a request that succeeded; a failure or an HTTP error status throws.
export async function fetchAnswer(url, options = {}) {
  const answer = await fetch(url, { cache: "no-store", ...options });
  if (!answer.ok) throw new Error(`${url}: HTTP ${answer.status}`);
  return answer;
}

// Long-polls. A tab holds at most one, and none while it is hidden, so that a console left open in the
// background costs the unit nothing: the pane on screen chooses whose request may wait, the log's while
// it is shown, else the change feed's.
let pollOwner = "variables";
let polling = null; // { owner, controller } of the request that waits now
let notBefore = 0; // a unit that answered early asked to be asked again no sooner
const wakers = new Set();

const mayPoll = (owner) => owner === pollOwner && document.visibilityState === "visible";

function pollingChanged() {
  if (polling && !mayPoll(polling.owner)) polling.controller.abort();
  for (const wake of [...wakers]) wake();
}
document.addEventListener("visibilitychange", pollingChanged);

export function setPollOwner(owner) {
  pollOwner = owner;
  pollingChanged();
}

// Resolves after ms, or sooner when the tab's polling changes.
const nextTurn = (ms) => new Promise((resolve) => {
  const wake = () => {
    wakers.delete(wake);
    clearTimeout(timer);
    resolve();
  };
  const timer = ms > 0 ? setTimeout(wake, ms) : undefined;
  wakers.add(wake);
});

// The answer of a long-poll of `owner`, read whole. A request cut off by a pause is made again, unchanged,
// once the owner may poll again: it still asks from where the owner stood.
export async function longPoll(owner, url) {
  for (;;) {
    while (!mayPoll(owner) || Date.now() < notBefore) await nextTurn(notBefore - Date.now());
    const controller = new AbortController();
    polling = { owner, controller };
    try {
      const answer = await fetchAnswer(url, { signal: controller.signal });
      const body = await answer.arrayBuffer();
      const retry = Number(answer.headers.get("Retry-After"));
      if (retry > 0) notBefore = Date.now() + Math.min(retry, 60) * 1000;
      return new Response(body, { status: answer.status, headers: answer.headers });
    } catch (error) {
      if (!controller.signal.aborted) throw error;
    } finally {
      if (polling?.controller === controller) polling = null;
    }
  }
}

export async function fetchText(url, options) {
  return (await fetchAnswer(url, options)).text();
}

export async function fetchJson(url, options) {
  return JSON.parse(await fetchText(url, options));
}

// The unit's write path reads quoted texts literally, without escapes: a text is quoted with the one
// quote character it does not hold.
function quote(text) {
  if (!text.includes('"')) return `"${text}"`;
  if (!text.includes("'")) return `'${text}'`;
  throw new Error("A text cannot hold both kinds of quote");
}

// Writes one variable, or with `index` one field of a structure element; answers "" or the error text.
export async function setVariable(memory, name, value, field, index) {
  const inner = field === undefined ? quote(value) : `{"Index":${index},${quote(field)}:${quote(value)}}`;
  const answer = await fetchJson("/api/v1/set.cgi", { method: "POST", body: `{"${memory}":{"${name}":${inner}}}` });
  return answer.result === 1 ? "" : answer.error || "The unit refused the value";
}

// Element helper: el("td", {className: "x"}, child, "text") — texts always become text nodes.
export function el(tag, properties = {}, ...children) {
  const element = Object.assign(document.createElement(tag), properties);
  element.append(...children);
  return element;
}

export function showStatus(text, isError = false) {
  const status = document.getElementById("status");
  status.textContent = text;
  status.classList.toggle("error", isError);
}

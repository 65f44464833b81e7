// Requests to the unit and the small helpers every pane shares.

export const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The answer of a request that succeeded; a failure or an HTTP error status throws.
export async function fetchAnswer(url, options = {}) {
  const answer = await fetch(url, { cache: "no-store", ...options });
  if (!answer.ok) throw new Error(`${url}: HTTP ${answer.status}`);
  return answer;
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

// The variables pane: every memory and variable of the whole-state document, kept current by the
// unit's change feed: update documents that hold every variable changed after the last one seen and
// touch only the rows they name.
import { delay, el, fetchAnswer, longPoll, setVariable, showStatus } from "./api.js";
import { kindOf, makeEditor, showValue } from "./editors.js";
import { nameNodes } from "./names.js";
import { makeStructView, updateStructView } from "./structs.js";

const rows = new Map(); // "Memory.Variable" → row
const sections = [];

export async function loadVariables() {
  const started = performance.now();
  showStatus("Loading the unit's state …");
  let whole;
  try {
    whole = await readVariables("/api/v1/all.cgi");
    render(whole.variables);
  } catch (error) {
    showStatus(`Could not read the unit's state: ${error.message}`, true);
    return;
  }
  showStatus(`${rows.size} variables, shown in ${Math.round(performance.now() - started)} ms`);
  document.getElementById("filter").addEventListener("input", filterSoon);
  followUpdates(whole.sequence);
}

// A whole-state or update document's variables, with the sequence of the newest change it holds and
// whether the unit asks for the whole state to be read again.
async function readVariables(url, request = fetchAnswer) {
  const answer = await request(url);
  const sequence = answer.headers.get("X-Change-Sequence");
  if (!/^\d+$/.test(sequence ?? "")) throw new Error(`${url}: no change sequence`);
  const { variables } = JSON.parse(await answer.text());
  return { variables, sequence, reload: answer.headers.get("X-Change-Reload") === "1" };
}

function render(variables) {
  const fragment = document.createDocumentFragment();
  for (const [memory, members] of Object.entries(variables)) {
    const section = { rows: [], count: el("span", { className: "count" }), body: el("tbody") };
    for (const [name, value] of Object.entries(members)) {
      const row = { memory, name, value, key: `${memory}.${name}`.toLowerCase() };
      rows.set(`${memory}.${name}`, row);
      section.rows.push(row);
    }
    const head = el("tr", {}, ...["Name", "Type", "Value", "Bounds"].map((title) => el("th", { scope: "col" }, title)));
    section.element = el("details", { className: "memory" },
      el("summary", {}, memory, " ", section.count), el("table", {}, el("thead", {}, head), section.body));
    // A memory's rows are built when it is first opened: all 933 at once would take the browser a second.
    section.element.addEventListener("toggle", () => section.element.open && buildRows(section));
    sections.push(section);
    fragment.append(section.element);
  }
  document.getElementById("memories").replaceChildren(fragment);
  buildRows(sections[0]);
  sections[0].element.open = true;
  applyFilter();
}

function buildRows(section) {
  if (section.body.firstChild) return;
  for (const row of section.rows) {
    buildRow(row);
    row.tr.hidden = !row.key.includes(filterTerm());
  }
  section.body.append(...section.rows.map((row) => row.tr));
}

function buildRow(row) {
  const { name, value } = row;
  row.cell = el("td", { className: "value" });
  const type = typeText(value);
  row.tr = el("tr", { className: "var" }, el("th", { scope: "row", title: name }, ...nameNodes(name)),
    el("td", { className: "type", title: type }, ...nameNodes(type)), row.cell,
    el("td", { className: "bounds" }, boundsText(value)));
  const kind = kindOf(value);
  if (kind === "array" || kind === "struct") {
    row.view = makeStructView(row, (text, field, index) => write(row, text, field, index));
    row.cell.append(row.view.element);
  } else {
    row.editor = makeEditor(value, name, (text) => write(row, text));
    row.cell.append(row.editor);
  }
}

function typeText(value) {
  if (Array.isArray(value)) return `struct [${value.length}]`;
  return "value" in value ? value.type : "struct";
}

function boundsText(value) {
  const kind = kindOf(value);
  if (kind === "int" || kind === "float") return `${value.min} … ${value.max}`;
  if (kind === "buffer") return `${value.max} bytes`;
  if (kind === "enum") return `${value.textid.length} entries`;
  return "";
}

async function write(row, text, field, index) {
  let error;
  try {
    error = await setVariable(row.memory, row.name, text, field, index);
  } catch (failure) {
    error = failure.message;
  }
  row.cell.querySelector(".error")?.remove();
  if (!error) return;
  row.cell.append(el("span", { className: "error", role: "alert" }, error));
  // The unit keeps its value; so does the page.
  if (row.editor) {
    showValue(row.editor, row.value, true);
  } else {
    updateStructView(row.view, row.value, true);
  }
}

function applyUpdate(variables) {
  for (const [memory, members] of Object.entries(variables)) {
    for (const [name, value] of Object.entries(members)) {
      const row = rows.get(`${memory}.${name}`);
      if (!row || JSON.stringify(row.value) === JSON.stringify(value)) continue;
      row.value = value;
      if (!row.tr) continue; // built later from the value
      if (row.editor) showValue(row.editor, value);
      else updateStructView(row.view, value);
      row.tr.animate([{ backgroundColor: "#ffe08a" }, { backgroundColor: "transparent" }], { duration: 1500 });
    }
  }
}

// Every change after the sequence seen last is asked for, so none is missed however long the page
// takes between two requests. After a failure, and when the unit no longer knows the sequence (its
// service started again), the whole state is read again and followed from there. While the page is
// hidden or shows the log, the feed is not asked; it then catches up from the same sequence.
async function followUpdates(sequence) {
  const waitForUpdate = (url) => longPoll("variables", url);
  let reload = false;
  let lost = false;
  for (;;) {
    try {
      const answer = reload ? await readVariables("/api/v1/all.cgi")
        : await readVariables(`/api/v1/update.cgi?since=${sequence}`, waitForUpdate);
      if (lost) showStatus("Connected to the unit again");
      lost = false;
      reload = answer.reload;
      if (reload) continue;
      applyUpdate(answer.variables);
      sequence = answer.sequence;
    } catch (error) {
      showStatus(`Lost the unit (${error.message}); trying again …`, true);
      lost = true;
      reload = true;
      await delay(2000);
    }
  }
}

let filterTimer;
function filterSoon() {
  clearTimeout(filterTimer);
  filterTimer = setTimeout(applyFilter, 150);
}

const filterTerm = () => document.getElementById("filter").value.trim().toLowerCase();

function applyFilter() {
  const term = filterTerm();
  let total = 0;
  for (const section of sections) {
    let shown = 0;
    for (const row of section.rows) {
      const match = row.key.includes(term);
      if (row.tr && row.tr.hidden === match) row.tr.hidden = !match;
      shown += match;
    }
    section.element.hidden = shown === 0;
    if (term && shown) section.element.open = true;
    section.count.textContent = term ? `${shown} of ${section.rows.length}` : `${section.rows.length}`;
    total += shown;
  }
  document.getElementById("variable-count").textContent = `${total} of ${rows.size} variables`;
}

// The variables pane: every memory and variable of the whole-state document, kept current by the
// long-poll of update documents, which touch only the rows they name.
import { delay, el, fetchText, setVariable, showStatus } from "./api.js";
import { kindOf, makeEditor, showValue } from "./editors.js";
import { nameNodes } from "./names.js";
import { makeStructView, updateStructView } from "./structs.js";

const rows = new Map(); // "Memory.Variable" → row
const sections = [];

export async function loadVariables() {
  const started = performance.now();
  showStatus("Loading the unit's state …");
  try {
    render(JSON.parse(await fetchText("/api/v1/all.cgi")).variables);
  } catch (error) {
    showStatus(`Could not read the unit's state: ${error.message}`, true);
    return;
  }
  showStatus(`${rows.size} variables, shown in ${Math.round(performance.now() - started)} ms`);
  document.getElementById("filter").addEventListener("input", filterSoon);
  followUpdates();
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

// A memory may appear twice in one update document; numbering the memory keys keeps both.
function parseUpdate(text) {
  let count = 0;
  return JSON.parse(text.replace(/\r\n {2}"(\w+)" : \{/g, (_, memory) => `\r\n  "${memory}#${count++}" : {`)).variables;
}

function applyUpdate(variables) {
  for (const [key, members] of Object.entries(variables)) {
    const memory = key.split("#")[0];
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

async function followUpdates() {
  let resync = false;
  for (;;) {
    try {
      // Changes made while no update request waited come with a fresh whole state.
      if (resync) {
        applyUpdate(JSON.parse(await fetchText("/api/v1/all.cgi")).variables);
        showStatus("Connected again");
        resync = false;
      }
      applyUpdate(parseUpdate(await fetchText("/api/v1/update.cgi")));
    } catch (error) {
      showStatus(`Updates interrupted (${error.message}); retrying`, true);
      resync = true;
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

// The API page: the unit's own API document (/api/v1/openapi.json) as routes with their answers and
// every variable with its type, bounds, enumeration entries and structure fields, with a search.
import { el, fetchJson, showStatus } from "./api.js";
import { boundsText, describe, refName, typeText } from "./apischema.js";

let schemas = {};
const items = []; // { element, text } of every route and variable, for the search
const memories = []; // the memories' sections, hidden when the search leaves none of their rows

const describeRow = (schema) => describe(schemas, schema);

function fieldsTable(fields) {
  const body = el("tbody");
  for (const info of fields) {
    const detail = info.fields ? fieldsTable(info.fields) : el("span", { className: "entries" }, (info.entries ?? []).join(", "));
    body.append(el("tr", {}, el("th", {}, info.field), el("td", {}, typeText(info)), el("td", {}, boundsText(info)),
      el("td", {}, detail)));
  }
  return el("table", { className: "fields" }, body);
}

function detailOf(info) {
  if (info.fields) return el("details", { className: "struct" }, el("summary", {}, `${info.fields.length} fields`), fieldsTable(info.fields));
  return el("span", { className: "entries" }, (info.entries ?? []).join(", "));
}

function searchText(...parts) {
  return parts.flat(Infinity).filter((part) => part !== undefined).join(" ").toLowerCase();
}

function renderMemories() {
  const fragment = document.createDocumentFragment();
  for (const [schemaName, memory] of Object.entries(schemas).filter(([n]) => n.startsWith("memory."))) {
    const name = schemaName.slice(7);
    const body = el("tbody");
    for (const [variable, schema] of Object.entries(memory.properties)) {
      const info = describeRow(schema);
      const row = el("tr", { className: "var" }, el("th", {}, variable), el("td", {}, typeText(info)),
        el("td", {}, boundsText(info)), el("td", {}, detailOf(info)));
      body.append(row);
      const fieldNames = (info.fields ?? []).map((f) => [f.field, f.type, f.entries ?? []]);
      items.push({ element: row, text: searchText(name, variable, info.type, info.entries ?? [], fieldNames) });
    }
    const head = el("tr", {}, ...["Name", "Type", "Bounds", "Entries or fields"].map((t) => el("th", { scope: "col" }, t)));
    const section = el("details", { className: "memory", open: true },
      el("summary", {}, name, " ", el("span", { className: "count" }, `${body.children.length} variables`)),
      el("table", {}, el("thead", {}, head), body));
    memories.push({ element: section, rows: [...body.children] });
    fragment.append(section);
  }
  document.getElementById("api-memories").replaceChildren(fragment);
}

function schemaText(schema) {
  if (!schema || Object.keys(schema).length === 0) return "any bytes";
  return refName(schema) ?? schema.type ?? "JSON";
}

function renderRoutes(paths) {
  const fragment = document.createDocumentFragment();
  for (const [path, route] of Object.entries(paths)) {
    for (const [method, operation] of Object.entries(route).filter(([m]) => m !== "parameters")) {
      const parameters = [...(route.parameters ?? []), ...(operation.parameters ?? [])];
      const answers = el("ul", { className: "answers" });
      for (const [status, answer] of Object.entries(operation.responses)) {
        const media = Object.entries(answer.content ?? {}).map(([type, c]) => `${type}: ${schemaText(c.schema)}`);
        const headers = Object.keys(answer.headers ?? {});
        answers.append(el("li", {}, `${status} `, el("code", {}, media.join("; ") || "no body"),
          headers.length ? ` — head lines ${headers.join(", ")}` : "", ` — ${answer.description}`));
      }
      const requestBody = Object.entries(operation.requestBody?.content ?? {}).map(([type, c]) => `${type}: ${schemaText(c.schema)}`);
      const card = el("details", { className: "route" },
        el("summary", {}, el("span", { className: "method" }, method), " ", el("span", { className: "path" }, path),
          " — ", operation.summary),
        el("div", {},
          operation.description ? el("p", {}, operation.description) : "",
          ...parameters.map((p) => el("p", {}, el("code", {}, `${p.name}`), ` (${p.in}) ${p.description ?? ""}`)),
          requestBody.length ? el("p", {}, "Body: ", el("code", {}, requestBody.join("; ")),
            operation.requestBody.description ? ` — ${operation.requestBody.description}` : "") : "",
          answers));
      fragment.append(card);
      items.push({ element: card, text: searchText(method, path, operation.summary, operation.description) });
    }
  }
  document.getElementById("api-routes").replaceChildren(fragment);
}

function search() {
  const words = document.getElementById("api-search").value.toLowerCase().split(/\s+/).filter(Boolean);
  let shown = 0;
  for (const item of items) {
    const match = words.every((word) => item.text.includes(word));
    item.element.hidden = !match;
    shown += match;
  }
  for (const memory of memories) memory.element.hidden = memory.rows.every((row) => row.hidden);
  document.getElementById("api-count").textContent = `${shown} of ${items.length}`;
}

async function load() {
  showStatus("Loading the API document …");
  try {
    const document_ = await fetchJson("/api/v1/openapi.json");
    schemas = document_.components.schemas;
    renderRoutes(document_.paths);
    renderMemories();
    showStatus(`${document_.info.title}, version ${document_.info.version}`);
  } catch (error) {
    showStatus(`Could not read the API document: ${error.message}`, true);
    return;
  }
  document.getElementById("api-search").addEventListener("input", search);
  search();
}

load();

// Structures and arrays of structures: a closed summary until opened, then one field table per element,
// built when the element is opened (an array may hold 500 elements of several fields).
import { el } from "./api.js";
import { makeEditor, showValue } from "./editors.js";
import { nameNodes } from "./names.js";

// `commit(text, field, index)` writes one field of one element.
export function makeStructView(row, commit) {
  const isArray = Array.isArray(row.value);
  const elements = isArray ? row.value : [row.value];
  const summary = isArray ? `${elements.length} elements` : `${Object.keys(row.value).length} fields`;
  const view = { element: el("details", { className: "struct" }, el("summary", {}, summary)), elements, parts: [] };
  view.element.addEventListener("toggle", () => {
    if (!view.element.open || view.parts.length) return;
    if (!isArray) {
      view.parts.push(makeFields(row.name, view, 0, commit));
      view.element.append(view.parts[0].table);
      return;
    }
    const list = el("div", { className: "elements" });
    elements.forEach((_, index) => {
      const part = { table: null, element: el("details", {}, el("summary", {}, `[${index}]`)) };
      part.element.addEventListener("toggle", () => {
        if (!part.element.open || part.table) return;
        Object.assign(part, makeFields(`${row.name}[${index}]`, view, index, commit));
        part.element.append(part.table);
      });
      view.parts.push(part);
      list.append(part.element);
    });
    view.element.append(list);
  });
  return view;
}

function makeFields(label, view, index, commit) {
  const inputs = {};
  const nested = {};
  const body = el("tbody");
  for (const [field, value] of Object.entries(view.elements[index])) {
    let cell;
    if (Array.isArray(value)) {
      // Nested tables (a lens table's scale values) are read only, written out only while open.
      const summary = el("summary", {}, `${value.length} elements (read only)`);
      cell = nested[field] = el("details", {}, summary, el("pre"));
      cell.addEventListener("toggle", () => showNested(cell, view.elements[index]?.[field]));
    } else {
      cell = inputs[field] = makeEditor(value, `${label} ${field}`, (text) => commit(text, field, index));
    }
    body.append(el("tr", {}, el("th", { scope: "row", title: field }, ...nameNodes(field)), el("td", {}, cell)));
  }
  return { table: el("table", { className: "fields" }, body), inputs, nested, index };
}

function showNested(details, value) {
  if (details.open) details.lastChild.textContent = JSON.stringify(value);
}

export function updateStructView(view, value, force = false) {
  view.elements = Array.isArray(value) ? value : [value];
  for (const part of view.parts) {
    if (!part.inputs) continue;
    const element = view.elements[part.index];
    for (const [field, input] of Object.entries(part.inputs)) if (element?.[field]) showValue(input, element[field], force);
    for (const [field, details] of Object.entries(part.nested)) showNested(details, element?.[field]);
  }
}

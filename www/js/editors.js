// One input per value object of the unit's documents, by the object's type.
import { el } from "./api.js";

export function kindOf(value) {
  if (Array.isArray(value)) return "array";
  if (!("value" in value)) return "struct";
  if (value.type === "bool") return "bool";
  if (value.textid) return "enum";
  if (value.type === "int" || value.type === "float") return value.type;
  // A byte buffer comes as a string with its byte count as max, in hexadecimal.
  if (value.type === "string" && Number(value.max) > 0) return "buffer";
  return "string";
}

// `commit(text)` is called with the new text once the user has changed the value.
export function makeEditor(value, label, commit) {
  const kind = kindOf(value);
  let input;
  if (kind === "bool") {
    input = el("input", { type: "checkbox", className: "switch" });
    input.addEventListener("change", () => commit(input.checked ? "true" : "false"));
  } else if (kind === "enum") {
    input = el("select");
    for (const entry of value.textid) input.append(el("option", { value: entry }, entry));
    input.addEventListener("change", () => commit(input.value));
  } else {
    const numeric = kind === "int" || kind === "float";
    input = el("input", { type: numeric ? "number" : "text", spellcheck: false });
    if (numeric) {
      input.step = kind === "int" ? "1" : "any";
      if (value.min !== undefined) input.min = value.min;
      if (value.max !== undefined) input.max = value.max;
    }
    if (kind === "buffer") {
      input.pattern = "([0-9a-fA-F]{2})*";
      input.maxLength = 2 * Number(value.max);
      input.className = "hex";
    }
    input.addEventListener("change", async () => {
      if (!input.checkValidity()) return input.reportValidity();
      input.writing = true;
      await commit(input.value);
      input.writing = false;
    });
    // Left without a write, the field shows the unit's value again.
    input.addEventListener("blur", () => input.writing || (input.value = input.unitValue));
  }
  input.setAttribute("aria-label", label);
  showValue(input, value);
  return input;
}

// `force` also replaces what the user is typing (after a refused write).
export function showValue(input, value, force = false) {
  if (input.type === "checkbox") {
    input.checked = value.value === "true";
  } else if (input.tagName === "SELECT") {
    if (![...input.options].some((option) => option.value === value.value))
      input.append(el("option", { value: value.value }, value.value));
    input.value = value.value;
  } else {
    // A field being typed into keeps the user's text; the unit's value shows once it loses focus.
    input.unitValue = value.value;
    if (force || input !== document.activeElement) input.value = value.value;
  }
}

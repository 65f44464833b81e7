// What the API document's schema of a variable's rendering says: type, bounds, entries, fields, elements.

export const refName = (schema) => schema?.$ref?.split("/").pop();

// schemas: the document's components.schemas; schema: a row's (or a field's) rendering schema.
export function describe(schemas, schema) {
  const name = refName(schema);
  if (schema.type === "array") return { ...describe(schemas, schema.items), elements: schema.minItems };
  if (name === "value.bool") return { type: "bool", entries: ["false", "true"] };
  if (name?.startsWith("enum.")) {
    const type = name.slice("enum.".length);
    return { type, entries: schemas[`entries.${type}`].anyOf[0].enum };
  }
  if (name?.startsWith("struct.")) {
    const type = name.slice("struct.".length);
    const fields = Object.entries(schemas[name].properties).map(([field, s]) => ({ field, ...describe(schemas, s) }));
    return { type, fields };
  }
  const bounds = schema.properties ?? {};
  const described = { type: name === "field.string" ? "string" : name?.slice("value.".length),
    min: bounds.min?.const, max: bounds.max?.const };
  if (schema["x-bytes"] !== undefined) return { ...described, type: "buffer", size: `${schema["x-bytes"]} bytes` };
  if (schema["x-capacity"] !== undefined) return { ...described, size: `${schema["x-capacity"]} characters` };
  if (bounds.value?.maxLength !== undefined) return { ...described, size: `${bounds.value.maxLength} characters` };
  return described;
}

export function typeText(info) {
  return info.elements !== undefined ? `${info.type}[${info.elements}]` : info.type;
}

export function boundsText(info) {
  if (info.size) return info.size;
  return info.min !== undefined ? `${info.min} … ${info.max}` : "";
}

// Checks an HTTP answer against the API document: the route's status, content type, head lines and
// body schema, with a real JSON Schema (2020-12) validator.
import Ajv2020 from "ajv/dist/2020.js";

const pointer = (...parts) => parts.map((part) => encodeURIComponent(part.replaceAll("~", "~0").replaceAll("/", "~1")))
  .join("/");

export function answerChecker(document) {
  // The document's own extensions (x-...) and formats (binary) are descriptions, not checks.
  const ajv = new Ajv2020({ strict: false, validateFormats: false, allErrors: true });
  ajv.addSchema(document, "api");
  const compiled = new Map();
  const validator = (fragment) => {
    if (!compiled.has(fragment)) compiled.set(fragment, ajv.compile({ $ref: `api#/${fragment}` }));
    return compiled.get(fragment);
  };
  const failures = (validate) => ajv.errorsText(validate.errors, { separator: "\n  " });

  // Problems of `value` against the schema at `fragment` (a pointer into the document), "" when it fits.
  const checkValue = (fragment, value) => {
    const validate = validator(fragment);
    return validate(value) ? "" : failures(validate);
  };

  // answer: { status, headers (a Headers object), body (text) } of `method` on the document's `route`.
  const checkAnswer = (route, method, answer) => {
    const operation = document.paths[route]?.[method];
    if (!operation) return `the document has no ${method} ${route}`;
    const response = operation.responses[String(answer.status)];
    if (!response) return `status ${answer.status} is not an answer of ${method} ${route}`;
    const problems = [];
    for (const [name, header] of Object.entries(response.headers ?? {})) {
      const value = answer.headers.get(name);
      if (value === null) {
        if (header.required) problems.push(`head line ${name} is missing`);
        continue;
      }
      const problem = checkValue(pointer("paths", route, method, "responses", String(answer.status), "headers", name,
        "schema"), value);
      if (problem) problems.push(`head line ${name}: ${problem}`);
    }
    const contentType = (answer.headers.get("content-type") ?? "").split(";")[0].trim();
    const media = Object.keys(response.content ?? {});
    if (media.length === 0) {
      if (answer.body !== "") problems.push(`a body where the document has none: ${answer.body.slice(0, 80)}`);
      return problems.join("\n");
    }
    if (!media.includes(contentType)) problems.push(`content type ${contentType}, the document has ${media}`);
    // A route whose success is an empty body says so on its media type.
    if (answer.body === "" && response.content[contentType]?.["x-empty-body"]) return problems.join("\n");
    const schema = response.content[contentType]?.schema;
    // An empty schema admits any body: the raw bytes of a stored file.
    if (schema && Object.keys(schema).length > 0 && contentType === "application/json") {
      let value;
      try {
        value = JSON.parse(answer.body);
      } catch (error) {
        problems.push(`not JSON: ${error.message}: ${answer.body.slice(0, 80)}`);
        return problems.join("\n");
      }
      const problem = checkValue(pointer("paths", route, method, "responses", String(answer.status), "content",
        contentType, "schema"), value);
      if (problem) problems.push(problem);
    }
    return problems.join("\n");
  };
  return { checkAnswer, checkValue, pointer };
}

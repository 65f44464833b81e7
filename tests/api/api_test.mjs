// Live answers of every route, through nginx, checked against the API document that nginx serves
// (started by run-api-test.sh in the unit's network).
import assert from "node:assert/strict";
import { mkdirSync } from "node:fs";
import { test } from "node:test";
import { answerChecker } from "./answers.mjs";

const { UNIT_STATE } = process.env;
const call = async (method, path, options = {}) => {
  const response = await fetch(`http://127.0.0.1:8080${path}`, { method, ...options });
  return { status: response.status, headers: response.headers, body: await response.text() };
};
const served = await call("GET", "/api/v1/openapi.json", { headers: { "Accept-Encoding": "gzip" } });
const document = JSON.parse(served.body);
const checker = answerChecker(document);

// One request on `route` (the document's key; `path` when the route has a path parameter), its answer checked.
async function checked(method, route, options = {}, path = route) {
  const answer = await call(method, path, options);
  assert.equal(checker.checkAnswer(route, method.toLowerCase(), answer), "", `${method} ${path}: ${answer.body.slice(0, 200)}`);
  return answer;
}
const json = (answer) => JSON.parse(answer.body);
const set = async (body) =>
  json(await checked("POST", "/api/v1/set.cgi", { body: typeof body === "string" ? body : JSON.stringify(body) }));
const schemas = document.components.schemas;
// Every row of every memory: [memory, row, schema].
const rows = Object.keys(schemas).filter((name) => name.startsWith("memory.")).flatMap((name) =>
  Object.entries(schemas[name].properties).map(([row, schema]) => [name.slice(7), row, schema]));

test("the document is served compressed as JSON", () => {
  const { status, headers } = served;
  assert.deepEqual([status, headers.get("content-type"), headers.get("content-encoding"), document.openapi],
    [200, "application/json", "gzip", "3.1.0"]);
});

test("the whole state at start: the document, and every row against its own schema", async () => {
  const all = json(await checked("GET", "/api/v1/all.cgi"));
  assert.equal(rows.length, 933);
  const problems = rows.map(([memory, row]) => [`${memory}.${row}`, checker.checkValue(
    checker.pointer("components", "schemas", `memory.${memory}`, "properties", row), all.variables[memory][row])]);
  assert.deepEqual(problems.filter(([, problem]) => problem), []);
});

test("a rendering that differs from the document is refused", async () => {
  const answer = await checked("GET", "/api/v1/all.cgi");
  // A structure field under another name.
  assert.match(answer.body, /"CdmValid":/);
  const renamed = { ...answer, body: answer.body.replace('"CdmValid":', '"CdmValidity":') };
  assert.match(checker.checkAnswer("/api/v1/all.cgi", "get", renamed), /CdmValid/);
  // An enumeration entry missing from the document: the log levels of MemApp show "Warn" at start.
  assert.equal(json(answer).variables.MemApp.AppServiceLogLevel.value, "Warn");
  const shortened = structuredClone(document);
  const entries = shortened.components.schemas["entries.LogLevel"].anyOf[0].enum;
  entries.splice(entries.indexOf("Warn"), 1);
  shortened.components.schemas["enum.LogLevel"].properties.textid.const = entries;
  assert.notEqual(answerChecker(shortened).checkAnswer("/api/v1/all.cgi", "get", answer), "");
});

test("hostile strings in the whole state", async () => {
  const texts = ['say "hi" \\ back', "tab\there ctl\u0001\u001f", "ünïcödé © 😀", "</script><b>&amp;", "x".repeat(300)];
  const strings = rows.filter(([, , schema]) => schema["x-capacity"] >= 40).slice(0, texts.length);
  // The write path takes quoted texts literally, unescaped: each text goes in the quote it does not hold.
  const quoted = (text) => (text.includes('"') ? `'${text}'` : `"${text}"`);
  for (const [k, [memory, row]] of strings.entries())
    assert.deepEqual(await set(`{"${memory}": {"${row}": ${quoted(texts[k])}}}`), { result: 1 });
  const all = json(await checked("GET", "/api/v1/all.cgi"));
  for (const [k, [memory, row, { "x-capacity": capacity }]] of strings.entries())
    assert.equal(all.variables[memory][row].value, texts[k].slice(0, capacity - 1), `${memory}.${row}`);
});

test("set.cgi: success and every kind of error", async () => {
  const boolRow = rows.find(([memory, , s]) => memory === "MemPersistent" && s.$ref?.endsWith("value.bool"))[1];
  const cases = [
    [{ MemPersistent: { AUXTorque: "3" } }, { result: 1 }],
    [{ MemApp: { AppServiceLogLevel: "Warn" } }, { result: 1 }],
    [{ MemDistanceMeasure: { CdmCoordinatesList: { Index: "3", CdmX: "0.5" } } }, { result: 1 }],
    [{ MemPersistent: { AUXTorque: "x7" } }, "Can't convert x7 to int"],
    [{ MemPersistent: { CircleofConfusion: "1e-50" } }, "Can't convert 1e-50 to float"],
    [{ MemApp: { AppServiceLogLevel: "warn" } }, "warn is not part of enum LogLevel"],
    [{ MemGuiLocal: { UserButtonsFlags: "0g" } }, "Can't convert 0g to buffer"],
    [{ MemPersistent: { [boolRow]: "True" } }, "Value has to be 'true' or 'false'"],
    [{ NoMemory: { AUXTorque: "1" } }, ""],
    [{ MemPersistent: { NoVariable: "1" } }, ""],
  ];
  for (const [body, expected] of cases)
    assert.deepEqual(await set(body), typeof expected === "string" ? { result: 0, error: expected } : expected);
  assert.match((await set('{"MemPersistent":1 y}')).error, /^JSON parse error at \d+\.\r\n$/);
  const foreign = await checked("POST", "/api/v1/set.cgi",
    { body: '{"MemPersistent":{"AUXTorque":"2"}}', headers: { Origin: "http://elsewhere.example" } });
  assert.equal(foreign.status, 403);
  assert.match(json(foreign).error, /^Refused: /);
});

test("update.cgi without and with since", async () => {
  // Asked with the sequence of the whole state, when the service tells one.
  const since = (await checked("GET", "/api/v1/all.cgi")).headers.get("x-change-sequence") ?? "0";
  const waiting = Promise.all(["", `?since=${since}`].map((query) =>
    checked("GET", "/api/v1/update.cgi", {}, `/api/v1/update.cgi${query}`)));
  let settled = false;
  waiting.finally(() => (settled = true)).catch(() => {});
  // A change while no request waits yet is not sent: change until both are answered.
  for (let n = 1; !settled && n <= 40; ++n) {
    await set({ MemPersistent: { AUXTorque: String((n % 4) + 1) } });
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  for (const answer of await waiting) {
    const update = json(answer);
    assert.ok(Array.isArray(update.errors));
    assert.ok(answer.headers.get("x-change-reload") === "1" || update.variables.MemPersistent?.AUXTorque);
  }
});

test("device info, listings and files of both versions", async () => {
  for (const version of [1, 2])
    assert.equal(json(await checked("GET", `/qorapp/v${version}/device/info`))._id, "handunit-10042");
  mkdirSync(`${UNIT_STATE}/var/MIB/sub`, { recursive: true });
  const file = (method, name, body) => checked(method, "/qorapp/v1/lenstables/file/{name}", { body },
    `/qorapp/v1/lenstables/file/${name}`);
  for (const [method, name, body, result] of [
    ["PUT", "a.tab", "lens a", "Success"], ["PUT", "q%22uote.tab", "q", "Success"], ["PUT", "sub/b.tab", "lens b"],
    ["GET", "none.tab", undefined, "No such file"], ["POST", "a.tab", "", "Unknown request"],
    ["PUT", "nosub/c.tab", "x", "Open error"]]) {
    const answer = await file(method, name, body);
    if (result) assert.deepEqual(json(answer), { result }, `${method} ${name}`);
  }
  assert.equal((await file("GET", "a.tab")).body, "lens a");
  // Beside the simulated unit's own lens tables.
  const listed = json(await checked("GET", "/qorapp/v1/lenstables/list")).filter((name) => name.endsWith(".tab"));
  assert.deepEqual(listed.sort(), ["a.tab", 'q"uote.tab']);
  const tree = json(await checked("GET", "/qorapp/v2/lenstables/list"));
  assert.deepEqual(tree.content.find((entry) => entry.name === "sub").content, [{ name: "b.tab" }]);
  for (const folder of ["focusrings", "setups"])
    for (const version of [1, 2]) await checked("GET", `/qorapp/v${version}/${folder}/list`);
  for (const result of ["Success", "No such file"]) assert.deepEqual(json(await file("DELETE", "a.tab")), { result });
});

test("upload answers and the update status", async () => {
  const upload = async (fields, headers) => {
    const body = new FormData();
    for (const [name, value] of Object.entries(fields)) body.append(name, value);
    return json(await checked("POST", "/qorapp/v2/device/update", { body: headers ? "x" : body, headers }));
  };
  assert.deepEqual(await upload({}, { "Content-Type": "text/plain" }), { result: "Invalid content type" });
  assert.match((await upload({ deviceid: "handunit-10042" })).result, /mandatory/);
  assert.match((await upload({ deviceid: "nodash", file: new Blob(["u"]) })).result, /DEVICE-SERIAL/);
  const valid = { deviceid: "handunit-10042", file: new Blob(["update"]) };
  assert.deepEqual(await upload(valid), { taskid: "handunit-10042" });
  for (const version of [1, 2]) {
    const status = json(await checked("GET", `/qorapp/v${version}/device/status`));
    assert.ok(schemas["entries.UpdateState"].anyOf[0].enum.includes(status.status));
  }
});

test("log, screen and the 1-Wire scripts", async () => {
  assert.match((await checked("GET", "/api/v1/log.cgi")).body, /^\d+\r\n/);
  await checked("GET", "/api/v1/screen.cgi");
  await checked("POST", "/api/v1/modemdata.cgi", { body: '{"devType": "V"}' });
  await checked("POST", "/api/v1/premarkeddata.cgi", { body: "{}" });
});

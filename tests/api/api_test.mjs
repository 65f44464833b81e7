// Live answers of every route, through nginx, checked against the API document that nginx serves
// (started by run-api-test.sh in the unit's network).
import assert from "node:assert/strict";
import { mkdirSync } from "node:fs";
import { test } from "node:test";
import { answerChecker } from "./answers.mjs";

const { UNIT_STATE } = process.env;
const base = "http://127.0.0.1:8080";
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function call(method, path, options = {}) {
  const response = await fetch(base + path, { method, ...options });
  return { status: response.status, headers: response.headers, body: await response.text() };
}

const served = await call("GET", "/api/v1/openapi.json", { headers: { "Accept-Encoding": "gzip" } });
const document = JSON.parse(served.body);
const checker = answerChecker(document);

// One request on `route` (the document's key; `path` when the route has a path parameter), its answer checked.
async function checked(method, route, options = {}, path = route) {
  const answer = await call(method, path, options);
  assert.equal(checker.checkAnswer(route, method.toLowerCase(), answer), "", `${method} ${path}: ${answer.body.slice(0, 200)}`);
  return answer;
}
const set = (body) => checked("POST", "/api/v1/set.cgi", { body: JSON.stringify(body) });
const json = (answer) => JSON.parse(answer.body);
const schemas = document.components.schemas;
const memories = Object.keys(schemas).filter((name) => name.startsWith("memory.")).map((name) => name.slice(7));

test("the document is served compressed as JSON", () => {
  assert.equal(served.status, 200);
  assert.equal(served.headers.get("content-type"), "application/json");
  assert.equal(served.headers.get("content-encoding"), "gzip");
  assert.equal(document.openapi, "3.1.0");
});

test("the whole state at start: the document, and every row against its own schema", async () => {
  const all = json(await checked("GET", "/api/v1/all.cgi"));
  let rows = 0;
  const problems = [];
  for (const memory of memories) {
    for (const row of Object.keys(schemas[`memory.${memory}`].properties)) {
      ++rows;
      const problem = checker.checkValue(checker.pointer("components", "schemas", `memory.${memory}`, "properties", row),
        all.variables[memory][row]);
      if (problem) problems.push(`${memory}.${row}: ${problem}`);
    }
  }
  assert.equal(rows, 933);
  assert.deepEqual(problems, []);
});

test("a rendering that differs from the document is refused", async () => {
  const answer = await call("GET", "/api/v1/all.cgi");
  assert.equal(checker.checkAnswer("/api/v1/all.cgi", "get", answer), "");

  // A structure field under another name.
  assert.match(answer.body, /"CdmValid":/);
  const renamed = { ...answer, body: answer.body.replace('"CdmValid":', '"CdmValidity":') };
  assert.match(checker.checkAnswer("/api/v1/all.cgi", "get", renamed), /CdmValid/);

  // An enumeration entry missing from the document: the log levels of MemApp show "Warn" at start.
  const state = json(answer);
  assert.equal(state.variables.MemApp.AppServiceLogLevel.value, "Warn");
  const shortened = structuredClone(document);
  const entries = shortened.components.schemas["entries.LogLevel"].anyOf[0].enum;
  entries.splice(entries.indexOf("Warn"), 1);
  shortened.components.schemas["enum.LogLevel"].properties.textid.const = entries;
  assert.notEqual(answerChecker(shortened).checkAnswer("/api/v1/all.cgi", "get", answer), "");
});

test("hostile strings in the whole state", async () => {
  const strings = [];
  for (const memory of memories)
    for (const [row, schema] of Object.entries(schemas[`memory.${memory}`].properties))
      if (schema["x-capacity"] >= 40 && strings.length < 5) strings.push({ memory, row, capacity: schema["x-capacity"] });
  const texts = ['say "hi" \\ back', "tab\there ctl\u0001\u001f", "ünïcödé © 😀", "</script><b>&amp;", "x".repeat(300)];
  // The write path takes quoted texts literally, without escapes: each text goes in the quote it does not hold.
  const quoted = (text) => (text.includes('"') ? `'${text}'` : `"${text}"`);
  for (const [k, { memory, row }] of strings.entries()) {
    const body = `{"${memory}": {"${row}": ${quoted(texts[k])}}}`;
    assert.deepEqual(json(await checked("POST", "/api/v1/set.cgi", { body })), { result: 1 });
  }
  const all = json(await checked("GET", "/api/v1/all.cgi"));
  for (const [k, { memory, row, capacity }] of strings.entries()) {
    const shown = all.variables[memory][row].value;
    assert.equal(shown, texts[k].length < capacity ? texts[k] : texts[k].slice(0, capacity - 1), `${memory}.${row}`);
  }
});

test("set.cgi: success and every kind of error", async () => {
  assert.deepEqual(json(await set({ MemPersistent: { AUXTorque: "3" } })), { result: 1 });
  assert.deepEqual(json(await set({ MemApp: { AppServiceLogLevel: "Warn" } })), { result: 1 });
  assert.deepEqual(json(await set({ MemDistanceMeasure: { CdmCoordinatesList: { Index: "3", CdmX: "0.5" } } })),
    { result: 1 });
  const failures = [
    [{ MemPersistent: { AUXTorque: "x7" } }, "Can't convert x7 to int"],
    [{ MemPersistent: { CircleofConfusion: "1e-50" } }, "Can't convert 1e-50 to float"],
    [{ MemApp: { AppServiceLogLevel: "warn" } }, "warn is not part of enum LogLevel"],
    [{ MemGuiLocal: { UserButtonsFlags: "0g" } }, "Can't convert 0g to buffer"],
    [{ NoMemory: { AUXTorque: "1" } }],
    [{ MemPersistent: { NoVariable: "1" } }],
  ];
  for (const [body, error = ""] of failures) assert.deepEqual(json(await set(body)), { result: 0, error });
  const boolRow = Object.entries(schemas["memory.MemPersistent"].properties).find(([, s]) => s.$ref?.endsWith("value.bool"))[0];
  assert.deepEqual(json(await set({ MemPersistent: { [boolRow]: "True" } })), { result: 0, error: "Value has to be 'true' or 'false'" });
  const parse = json(await checked("POST", "/api/v1/set.cgi", { body: '{"MemPersistent":1 y}' }));
  assert.equal(parse.result, 0);
  assert.match(parse.error, /^JSON parse error at \d+\.\r\n$/);
  const foreign = await checked("POST", "/api/v1/set.cgi",
    { body: '{"MemPersistent":{"AUXTorque":"2"}}', headers: { Origin: "http://elsewhere.example" } });
  assert.equal(foreign.status, 403);
  assert.match(json(foreign).error, /^Refused: /);
});

test("update.cgi without and with since", async () => {
  // Asked with the sequence of the whole state, when the service tells one.
  const since = (await checked("GET", "/api/v1/all.cgi")).headers.get("x-change-sequence") ?? "0";
  const waiting = [checked("GET", "/api/v1/update.cgi"),
    checked("GET", "/api/v1/update.cgi", {}, `/api/v1/update.cgi?since=${since}`)];
  let settled = false;
  Promise.all(waiting).then(() => (settled = true), () => (settled = true));
  // A change while no request waits yet is not sent: change until both are answered.
  for (let n = 1; !settled && n <= 40; ++n) {
    await set({ MemPersistent: { AUXTorque: String((n % 4) + 1) } });
    await sleep(250);
  }
  for (const answer of await Promise.all(waiting)) {
    const update = json(answer);
    assert.ok(Array.isArray(update.errors));
    assert.ok(answer.headers.get("x-change-reload") === "1" || update.variables.MemPersistent?.AUXTorque);
  }
});

test("device info, listings and files of both versions", async () => {
  for (const version of [1, 2]) {
    const info = json(await checked("GET", `/qorapp/v${version}/device/info`));
    assert.equal(info._id, "handunit-10042");
  }
  const file = "/qorapp/v1/lenstables/file/{name}";
  assert.deepEqual(json(await checked("PUT", file, { body: "lens a" }, "/qorapp/v1/lenstables/file/a.tab")), { result: "Success" });
  assert.deepEqual(json(await checked("PUT", file, { body: "q" }, "/qorapp/v1/lenstables/file/q%22uote.tab")), { result: "Success" });
  mkdirSync(`${UNIT_STATE}/var/MIB/sub`, { recursive: true });
  await checked("PUT", file, { body: "lens b" }, "/qorapp/v1/lenstables/file/sub/b.tab");
  assert.equal((await checked("GET", file, {}, "/qorapp/v1/lenstables/file/a.tab")).body, "lens a");
  assert.deepEqual(json(await checked("GET", file, {}, "/qorapp/v1/lenstables/file/none.tab")), { result: "No such file" });
  assert.deepEqual(json(await checked("POST", file, { body: "" }, "/qorapp/v1/lenstables/file/a.tab")), { result: "Unknown request" });
  assert.deepEqual(json(await checked("PUT", file, { body: "x" }, "/qorapp/v1/lenstables/file/nosub/c.tab")), { result: "Open error" });
  // Beside the simulated unit's own lens tables.
  const listed = json(await checked("GET", "/qorapp/v1/lenstables/list")).filter((name) => name.endsWith(".tab"));
  assert.deepEqual(listed.sort(), ["a.tab", 'q"uote.tab']);
  const tree = json(await checked("GET", "/qorapp/v2/lenstables/list"));
  assert.deepEqual(tree.content.find((entry) => entry.name === "sub").content, [{ name: "b.tab" }]);
  for (const folder of ["focusrings", "setups"])
    for (const version of [1, 2]) await checked("GET", `/qorapp/v${version}/${folder}/list`);
  assert.deepEqual(json(await checked("DELETE", file, {}, "/qorapp/v1/lenstables/file/a.tab")), { result: "Success" });
  assert.deepEqual(json(await checked("DELETE", file, {}, "/qorapp/v1/lenstables/file/a.tab")), { result: "No such file" });
});

test("upload answers and the update status", async () => {
  const upload = (body, headers) => checked("POST", "/qorapp/v2/device/update", { body, headers });
  const form = (fields) => {
    const data = new FormData();
    for (const [name, value] of Object.entries(fields)) data.append(name, value);
    return data;
  };
  assert.deepEqual(json(await upload("x", { "Content-Type": "text/plain" })), { result: "Invalid content type" });
  assert.match(json(await upload(form({ deviceid: "handunit-10042" }))).result, /mandatory/);
  assert.match(json(await upload(form({ deviceid: "nodash", file: new Blob(["u"]) }))).result, /DEVICE-SERIAL/);
  assert.deepEqual(json(await upload(form({ deviceid: "handunit-10042", file: new Blob(["update"]) }))),
    { taskid: "handunit-10042" });
  for (const version of [1, 2]) {
    const status = json(await checked("GET", `/qorapp/v${version}/device/status`));
    assert.ok(schemas["entries.UpdateState"].anyOf[0].enum.includes(status.status));
  }
});

test("log, screen and the 1-Wire scripts", async () => {
  const log = await checked("GET", "/api/v1/log.cgi");
  assert.match(log.body, /^\d+\r\n/);
  await checked("GET", "/api/v1/screen.cgi");
  await checked("POST", "/api/v1/modemdata.cgi", { body: '{"devType": "V"}' });
  await checked("POST", "/api/v1/premarkeddata.cgi", { body: "{}" });
});

// The unit console in headless chromium against a simulated unit (started by run-console-test.sh):
// every pane, with the unit changing under it and the page changing the unit, on a desktop and in a hand.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { randomBytes } from "node:crypto";
import { appendFileSync, existsSync, readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import puppeteer from "puppeteer-core";

const { UNIT_INIT, UNIT_STATE, UNIT_BUILD, SCREENSHOTS, BROWSER_HOME } = process.env;

// The simulator runs in the unit's mounts (segments, broker socket), IPC and process namespaces (its /proc).
const simulator = (...args) => execFileSync("nsenter",
  ["-t", UNIT_INIT, "-m", "-i", "-p", "--", `${UNIT_BUILD}/bin/unit-simulator`, ...args], { encoding: "utf8" }).trim();

// Layout faults of the pane shown: sideways scrolling, a finger's control under 40 px or overlapping another,
// a name cut off or broken inside a word.
function layoutFaults() {
  const faults = [];
  const describe = (node) => `${node.tagName.toLowerCase()}${node.id ? `#${node.id}` : ""} "${
    (node.getAttribute("aria-label") ?? node.textContent).trim().slice(0, 40)}"`;
  const shown = (node) => node.getClientRects().length > 0;
  const root = document.documentElement;
  if (root.scrollWidth > root.clientWidth) faults.push(`the page is ${root.scrollWidth} px wide`);
  for (const node of document.querySelectorAll("body *"))
    if (/auto|scroll/.test(getComputedStyle(node).overflowX) && node.scrollWidth > node.clientWidth + 1 && shown(node))
      faults.push(`${describe(node)} scrolls sideways`);
  // Only targets that scroll together can cover each other.
  const targets = [...document.querySelectorAll("button, input, select, textarea, summary, a[href]")].filter(shown)
    .map((control) => ({ control, box: control.getBoundingClientRect(),
      scroller: control.closest(".elements, main > section, header") }));
  for (const [index, { control, box, scroller }] of targets.entries()) {
    if (box.width < 40 || box.height < 40)
      faults.push(`${describe(control)} is ${Math.round(box.width)}×${Math.round(box.height)}`);
    for (const { control: other, box: b } of targets.slice(index + 1).filter((t) => t.scroller === scroller))
      if (b.top < box.bottom && box.top < b.bottom && b.left < box.right && box.left < b.right)
        faults.push(`${describe(control)} overlaps ${describe(other)}`);
  }
  const range = document.createRange();
  for (const name of [...document.querySelectorAll("tbody th, td.type")].filter(shown)) {
    if (name.scrollWidth > name.clientWidth + 1) faults.push(`${describe(name)} is cut off`);
    for (const word of [...name.childNodes].filter((n) => n.nodeType === Node.TEXT_NODE))
      if ((range.selectNodeContents(word), range.getClientRects().length > 1))
        faults.push(`${describe(name)} breaks inside "${word.data}"`);
  }
  return faults;
}

// What each pane shows once it has read the unit.
const PANE_READY = { variables: "tr.var", log: "#log-text span", screen: "#screen-image[src]",
  device: "#folder-setups .tree li", update: "#update-devices input" };

// Every pane of the page at its present size: no layout fault, and a screenshot of each.
async function checkEveryPane(page, label) {
  for (const [pane, ready] of Object.entries(PANE_READY)) {
    await page.click(`#tab-${pane}`);
    await page.waitForSelector(ready, { timeout: 10000 });
    if (pane === "screen") await page.waitForFunction(() => document.querySelector("#screen-image").complete);
    assert.deepEqual(await page.evaluate(layoutFaults), [], `${label}: the ${pane} pane fits`);
    await page.screenshot({ path: `${SCREENSHOTS}/${label}-${pane}.png` });
  }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// Polls `done` until it holds, failing with `what` after `ms`.
async function until(done, what, ms = 10000) {
  for (const end = Date.now() + ms; !(await done()); await sleep(50)) assert(Date.now() < end, what);
}
const watchErrors = (tab, ignore = () => false) => tab
  .on("console", (message) => message.type() === "error" && !ignore(message) && errors.push(message.text()))
  .on("pageerror", (error) => errors.push(error.message));
const openMemories = async (tab) => {
  await tab.$$eval("details.memory", (memories) => memories.forEach((memory) => (memory.open = true)));
  await tab.waitForFunction(() => document.querySelectorAll("tr.var").length === 933, { timeout: 15000 });
};
// Sends an update file from the Update pane, the target chosen beforehand, and waits for its success.
async function update(tab, path) {
  await (await tab.$("#update-file")).uploadFile(path);
  await tab.click("#update-start");
  await tab.waitForFunction(() => document.querySelector("#update-state").textContent === "Success",
    { timeout: 30000 });
}

// The console in a hand: 390×844 upright and on its side, and the narrowest phone of 360 px; every pane at
// each size; an accessory update started from the Update pane's list.
async function phoneRun(updatePath) {
  const phone = watchErrors(await browser.newPage());
  try {
    await phone.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true });
    await phone.goto("http://127.0.0.1:8080/");
    await phone.waitForSelector("tr.var", { timeout: 15000 });
    // Every memory open, and a structure array with one of its elements.
    await openMemories(phone);
    for (const open of ["details.struct", ".elements details"])
      await (await phone.waitForSelector(`tr.var:has(th[title="PeltDeviceList"]) ${open}`))
        .evaluate((details) => (details.open = true));
    // A switch is tapped, and the unit follows.
    const wanted = simulator("get", "MemPersistent", "BluetoothPower") === "true" ? "false" : "true";
    await phone.tap('input[aria-label="BluetoothPower"]');
    await until(() => simulator("get", "MemPersistent", "BluetoothPower") === wanted, "a tap writes the unit");
    await checkEveryPane(phone, "phone");

    // The unit itself is offered and chosen first; an accessory connected later is listed once asked for.
    const info = await (await fetch("http://127.0.0.1:8080/qorapp/v2/device/info")).json();
    const first = await phone.$eval("#update-devices input", (radio) => [radio.value, radio.checked]);
    assert.deepEqual(first, [info._id, true], "the unit's own ID is the first target, chosen");
    for (const [field, value] of [["PeltDeviceName", "FocusGrip"], ["PeltSerNumber", 7311], ["PeltDeviceConnected", true]]) {
      const body = JSON.stringify({ MemExternalDevices: { PeltDeviceList: { Index: 9, [field]: String(value) } } });
      const answer = await (await fetch("http://127.0.0.1:8080/api/v1/set.cgi", { method: "POST", body })).json();
      assert.equal(answer.result, 1, `accessory ${field} written`);
    }
    await phone.tap("#update-relist");
    await (await phone.waitForSelector('#update-devices label:has(input[value="FocusGrip-7311"])')).tap();
    await update(phone, updatePath);
    assert.equal(simulator("get", "MemExternalDevices", "PeltUpdateDeviceName"), "FocusGrip", "the listed one");
    assert.equal(simulator("get", "MemExternalDevices", "PeltUpdateDeviceSerial"), "7311");

    for (const [label, width, height] of [["landscape", 844, 390], ["narrow", 360, 740]]) {
      await phone.setViewport({ width, height, isMobile: true, hasTouch: true });
      await checkEveryPane(phone, label);
    }
  } finally {
    await phone.close();
  }
}

const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", `--user-data-dir=${BROWSER_HOME}/chromium`] });
const errors = [];
// Update requests refused once the test has cut the page off from the unit are logged by the browser, as expected.
let cutOff = false;
const page = watchErrors(await browser.newPage(),
  (message) => cutOff && message.location().url?.includes("/api/v1/update.cgi"));
const shot = (name) => page.screenshot({ path: `${SCREENSHOTS}/${name}.png` });
const tab = (name) => page.click(`#tab-${name}`);
const unitValue = (name, memory = "MemPersistent") => simulator("get", memory, name);
const setUnit = (name, value) => simulator("set", "MemPersistent", name, value);

try {
  await page.setViewport({ width: 1024, height: 600 });
  await page.goto("http://127.0.0.1:8080/");
  await page.waitForSelector("tr.var", { timeout: 15000 });
  // Memories are built as they are opened.
  await openMemories(page);

  const input = (name) => `#memories input[aria-label="${name}"]`;
  // Changes made in a row, whenever they come, all reach the page: it asks for every change after the last
  // one it saw, not only for those that arrive while a request of its waits.
  const shows = (name, value, timeout = 5000) => page.waitForFunction((selector, v) =>
    document.querySelector(selector).value === v, { timeout }, input(name), value);
  for (const [name, value] of [["ButtonBrightness", "51"], ["KnobBrightness", "52"], ["ButtonBrightness", "53"]])
    setUnit(name, value);
  await shows("KnobBrightness", "52");
  await shows("ButtonBrightness", "53");
  const brightness = async (value) => (setUnit("ButtonBrightness", value), await shows("ButtonBrightness", value));

  await page.click(input("DisplayBrightness"), { clickCount: 3 });
  await page.keyboard.type("42");
  await page.keyboard.press("Tab");
  await until(() => unitValue("DisplayBrightness") === "42", "the page's write reaches the segment");

  // The unit lost: the page says so, and once the unit answers it reads the whole state and follows from
  // there. A restarted service refuses the page's sequence, which makes the page read the whole state again;
  // a rewritten sequence stands in for the restart.
  let outage = false;
  let restarted = false;
  let wholeStateReads = 0;
  await page.setRequestInterception(true);
  const intercept = (request) => {
    if (request.url().includes("/api/v1/all.cgi")) ++wholeStateReads;
    if (!request.url().includes("/api/v1/update.cgi") || (!outage && !restarted)) return request.continue();
    if (outage) return request.abort("connectionrefused");
    restarted = false;
    return request.continue({ url: request.url().replace(/since=\d+/, "since=1") });
  };
  page.on("request", intercept);
  outage = cutOff = true;
  await brightness("61");
  await page.waitForFunction(() => document.querySelector("#status.error")?.textContent.startsWith("Lost the unit"),
    { timeout: 5000 });
  await shot("variables-lost");
  setUnit("ButtonBrightness", "62");
  outage = false;
  await shows("ButtonBrightness", "62", 10000);
  assert.equal(await page.$eval("#status", (status) => status.className), "", "the page no longer shows the loss");
  const readsBefore = wholeStateReads;
  restarted = true;
  await brightness("63");
  await until(() => wholeStateReads > readsBefore, "a refused sequence makes the page read the whole state", 5000);
  await brightness("64");
  page.off("request", intercept);
  await page.setRequestInterception(false);

  await tab("log");
  const marker = `console test line ${Date.now()}`;
  appendFileSync(`${UNIT_STATE}/kmsg`, `${"browser-test".padStart(20)}  ${"Warn".padEnd(12)}${marker}\n`);
  const colour = await page.waitForFunction((text) => [...document.querySelectorAll("#log-text span")]
    .filter((s) => s.textContent.includes(text)).map((s) => getComputedStyle(s).color)[0], { timeout: 10000 }, marker);
  assert.equal(await colour.jsonValue(), "rgb(170, 170, 0)", "a Warn line is shown in its colour");

  // One long-poll per tab: the log's while it is shown, else the change feed's; none while the tab is
  // hidden, and what changed meanwhile arrives when it is shown again.
  const waiting = new Set();
  const track = (request) => /\/api\/v1\/(update|log)\.cgi/.test(request.url()) && waiting.add(request);
  const untrack = (request) => waiting.delete(request);
  page.on("request", track).on("requestfinished", untrack).on("requestfailed", untrack);
  const onlyWaiting = (route) => until(() => {
    const urls = [...waiting].map((request) => request.url());
    return urls.length === (route ? 1 : 0) && urls.every((url) => url.includes(route));
  }, `waiting on more or other than ${route || "nothing"}`, 5000);
  const setVisibility = (state) => page.evaluate((hidden) => {
    Object.defineProperty(document, "visibilityState", { value: hidden, configurable: true });
    document.dispatchEvent(new Event("visibilitychange"));
  }, state);
  for (const [pane, route] of [["variables", "update"], ["log", "log"], ["variables", "update"]]) {
    await tab(pane);
    await onlyWaiting(`/api/v1/${route}.cgi`);
  }
  await setVisibility("hidden");
  await onlyWaiting("");
  setUnit("ButtonBrightness", "71");
  await sleep(1500);
  assert.equal(waiting.size, 0, "a hidden tab asks nothing");
  assert.equal(await page.$eval(input("ButtonBrightness"), (field) => field.value), "64");
  await setVisibility("visible");
  await shows("ButtonBrightness", "71");
  page.off("request", track).off("requestfinished", untrack).off("requestfailed", untrack);

  await tab("screen");
  await page.waitForFunction(() => document.querySelector("#screen-image").naturalWidth > 0, { timeout: 10000 });
  const size = await page.$eval("#screen-image", (image) => [image.naturalWidth, image.naturalHeight]);
  assert.deepEqual(size, [800, 480]);

  await tab("device");
  const table = randomBytes(3000), tablePath = `${BROWSER_HOME}/console-test.tab`;
  writeFileSync(tablePath, table);
  await (await page.waitForSelector("#lenstables-file")).uploadFile(tablePath);
  await page.click("#lenstables-upload");
  const link = await page.waitForSelector('#folder-lenstables a[download="console-test.tab"]', { timeout: 10000 });
  const downloaded = await link.evaluate(async (a) => [...new Uint8Array(await (await fetch(a.href)).arrayBuffer())]);
  assert.deepEqual(Buffer.from(downloaded), table, "the downloaded lens table equals the uploaded one");

  await tab("update");
  const updatePath = `${BROWSER_HOME}/accessory.cmf`;
  writeFileSync(updatePath, randomBytes(200000));
  // An accessory that the unit does not list: its ID typed.
  await page.type("#update-other-id", "Accessory-7");
  await update(page, updatePath);
  for (const bar of ["#update-upload", "#update-progress"])
    assert.equal(await page.$eval(bar, (b) => b.value), 100, `${bar} is complete`);
  assert.equal(unitValue("PeltUpdateDeviceName", "MemExternalDevices"), "Accessory", "the typed ID is the target");
  await checkEveryPane(page, "tablet");

  // A page served from another origin, as any crew member's browser may open, tries each kind of simple
  // request a browser sends without asking; the service refuses them all and nothing changes.
  const server = createServer((request, response) => response.end("<!doctype html><title>elsewhere</title>"));
  await new Promise((resolve) => server.listen(8090, "127.0.0.2", resolve));
  const foreign = await browser.newPage();
  // The kernel log reaches its file through a pipe, a moment after the line was written.
  const refusals = () => (readFileSync(`${UNIT_STATE}/kmsg.log`, "utf8").match(/Refused: a page of another origin/g)
    ?? []).length;
  try {
    await foreign.goto("http://127.0.0.2:8090/");
    const before = unitValue("ButtonBrightness");
    const refusedBefore = refusals();
    await foreign.evaluate(async (unit, deviceId) => {
      const write = "{'MemPersistent':{'ButtonBrightness':'7'}}";
      await fetch(`${unit}/api/v1/set.cgi`, { method: "POST", mode: "no-cors", body: write });
      // Forms post into a frame of their own; its load ends the attempt.
      const submit = (action, enctype, fields) => new Promise((resolve) => {
        const frame = Object.assign(document.createElement("iframe"), { name: `f${Math.random()}` });
        const form = Object.assign(document.createElement("form"), { method: "post", action, enctype,
          target: frame.name });
        for (const [name, value] of fields) {
          const input = Object.assign(document.createElement("input"), { name });
          if (value instanceof File) {
            const files = new DataTransfer();
            files.items.add(value);
            Object.assign(input, { type: "file" }).files = files.files;
          } else input.value = value;
          form.append(input);
        }
        document.body.append(frame, form);
        frame.addEventListener("load", resolve, { once: true });
        form.submit();
      });
      await submit(`${unit}/api/v1/set.cgi`, "application/x-www-form-urlencoded", [[write, ""]]);
      // As text, name=value reads as the write itself.
      await submit(`${unit}/api/v1/set.cgi`, "text/plain", [["{'MemPersistent':{'x':'", "','ButtonBrightness':'7'}}"]]);
      await submit(`${unit}/qorapp/v1/device/update`, "multipart/form-data",
        [["deviceid", deviceId], ["file", new File(["a whole update image"], "unit.swu")]]);
    }, "http://127.0.0.1:8080", "handunit-10042");
    await until(() => refusals() - refusedBefore >= 4, "every write of the other page is refused", 5000);
    assert.equal(unitValue("ButtonBrightness"), before);
    assert(!existsSync(`${UNIT_STATE}/update/host.swu`), "the other page's upload stored nothing");

    // After a valid upload of the unit's own page, the other page's <img> of the status route gives no go-ahead.
    const answer = await page.evaluate(async () => {
      const form = new FormData();
      form.append("deviceid", "handunit-10042");
      form.append("file", new File(["a valid update image"], "unit.swu"));
      return (await fetch("/qorapp/v1/device/update", { method: "POST", body: form })).text();
    });
    assert.equal(answer, '{"taskid": "handunit-10042" }');
    await until(() => unitValue("HostUpdateFileState", "MemMedia") === "FileValid", "the unit finds the upload valid");
    await foreign.evaluate((status) => new Promise((resolve) => {
      const image = Object.assign(new Image(), { onload: resolve, onerror: resolve });
      image.src = status;
    }), "http://127.0.0.1:8080/qorapp/v1/device/status");
    await until(() => refusals() - refusedBefore >= 5, "the status request of the other page is refused", 5000);
    assert.equal(unitValue("HostUpdateStart", "MemMedia"), "false");
    assert.equal(unitValue("HostUpdateFileState", "MemMedia"), "FileValid");
    // The unit's own page still gives it.
    const status = await page.evaluate(async () => (await fetch("/qorapp/v1/device/status")).json());
    assert.equal(status.status, "Rebooting");
    assert.equal(unitValue("HostUpdateStart", "MemMedia"), "true");
  } finally {
    await foreign.close();
    server.close();
  }

  await phoneRun(updatePath);

  // The filter hides rows; then every width from a phone to a desktop, not only those with screenshots: the
  // variables pane, every memory open, has no layout fault.
  await tab("variables");
  await page.type("#filter", "brightness");
  await page.waitForFunction(() => document.querySelectorAll("tr.var:not([hidden])").length < 933);
  await page.$eval("#filter", (filter) => ((filter.value = ""), filter.dispatchEvent(new Event("input"))));
  await page.waitForFunction(() => document.querySelectorAll("tr.var:not([hidden])").length === 933);
  for (let width = 360; width <= 1400; width += 40) {
    await page.setViewport({ width, height: 700 });
    assert.deepEqual(await page.evaluate(layoutFaults), [], `${width} px: the variables pane fits`);
  }
  assert.deepEqual(errors, [], "no errors in the page's console");
} catch (error) {
  await shot("failure");
  throw error;
} finally {
  await browser.close();
}

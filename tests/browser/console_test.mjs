// The unit console in headless chromium against a simulated unit (started by run-console-test.sh):
// every pane once, with the unit changing under it and the page changing the unit.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { randomBytes } from "node:crypto";
import { appendFileSync, writeFileSync } from "node:fs";
import puppeteer from "puppeteer-core";

const { UNIT_INIT, UNIT_STATE, UNIT_BUILD, SCREENSHOTS, BROWSER_HOME } = process.env;

// The simulator runs in the unit's mounts (segments, broker socket), IPC and process namespaces (its /proc).
const simulator = (...args) => execFileSync("nsenter",
  ["-t", UNIT_INIT, "-m", "-i", "-p", "--", `${UNIT_BUILD}/bin/unit-simulator`, ...args], { encoding: "utf8" }).trim();

const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", `--user-data-dir=${BROWSER_HOME}/chromium`] });
const page = await browser.newPage();
const errors = [];
// Update requests refused once the test has cut the page off from the unit are logged by the browser, as expected.
let cutOff = false;
page.on("console", (message) => message.type() === "error" &&
  !(cutOff && message.location().url?.includes("/api/v1/update.cgi")) && errors.push(message.text()));
page.on("pageerror", (error) => errors.push(error.message));
const shot = (name) => page.screenshot({ path: `${SCREENSHOTS}/${name}.png` });
const tab = (name) => page.click(`#tab-${name}`);

try {
  await page.setViewport({ width: 1024, height: 600 });
  await page.goto("http://127.0.0.1:8080/");
  await page.waitForFunction(() => document.querySelector("tr.var"), { timeout: 15000 });
  await shot("variables-tablet");
  // Memories are built as they are opened.
  await page.$$eval("details.memory", (memories) => memories.forEach((memory) => (memory.open = true)));
  await page.waitForFunction(() => document.querySelectorAll("tr.var").length === 933, { timeout: 15000 });

  const input = (name) => `#memories input[aria-label="${name}"]`;
  // Changes made in a row, whenever they come, all reach the page: it asks for every change after the last
  // one it saw, not only for those that arrive while a request of its waits.
  const shows = (name, value, timeout = 5000) => page.waitForFunction((selector, v) =>
    document.querySelector(selector).value === v, { timeout }, input(name), value);
  for (const [name, value] of [["ButtonBrightness", "51"], ["KnobBrightness", "52"], ["ButtonBrightness", "53"]])
    simulator("set", "MemPersistent", name, value);
  await shows("KnobBrightness", "52");
  await shows("ButtonBrightness", "53");

  await page.click(input("DisplayBrightness"), { clickCount: 3 });
  await page.keyboard.type("42");
  await page.keyboard.press("Tab");
  for (const end = Date.now() + 10000; simulator("get", "MemPersistent", "DisplayBrightness") !== "42";
    await new Promise((r) => setTimeout(r, 100)))
    assert(Date.now() < end, "the page's write reaches the segment");

  // The unit lost: the page says so; when the unit answers again, the page reads the whole state and follows
  // the changes from there. After a restart the service refuses the page's sequence, so the page reads the
  // whole state again by itself; a refused sequence stands in for the restart here.
  let outage = false;
  let restarted = false;
  let wholeStateReads = 0;
  await page.setRequestInterception(true);
  const intercept = (request) => {
    if (request.url().includes("/api/v1/all.cgi")) ++wholeStateReads;
    if (!request.url().includes("/api/v1/update.cgi")) return request.continue();
    if (outage) return request.abort("connectionrefused");
    if (!restarted) return request.continue();
    restarted = false;
    return request.continue({ url: request.url().replace(/since=\d+/, "since=1") });
  };
  page.on("request", intercept);
  outage = cutOff = true;
  simulator("set", "MemPersistent", "ButtonBrightness", "61");
  await shows("ButtonBrightness", "61");
  await page.waitForFunction(() => document.querySelector("#status.error")?.textContent.startsWith("Lost the unit"),
    { timeout: 5000 });
  await shot("variables-lost");
  simulator("set", "MemPersistent", "ButtonBrightness", "62");
  outage = false;
  await shows("ButtonBrightness", "62", 10000);
  assert.equal(await page.$eval("#status", (status) => status.className), "", "the page no longer shows the loss");
  const readsBefore = wholeStateReads;
  restarted = true;
  simulator("set", "MemPersistent", "ButtonBrightness", "63");
  await shows("ButtonBrightness", "63");
  for (const end = Date.now() + 5000; wholeStateReads === readsBefore; await new Promise((r) => setTimeout(r, 50)))
    assert(Date.now() < end, "a refused sequence makes the page read the whole state");
  simulator("set", "MemPersistent", "ButtonBrightness", "64");
  await shows("ButtonBrightness", "64");
  page.off("request", intercept);
  await page.setRequestInterception(false);

  await tab("log");
  const marker = `console test line ${Date.now()}`;
  appendFileSync(`${UNIT_STATE}/kmsg`, `${"browser-test".padStart(20)}  ${"Warn".padEnd(12)}${marker}\n`);
  const colour = await page.waitForFunction((text) => [...document.querySelectorAll("#log-text span")]
    .filter((s) => s.textContent.includes(text)).map((s) => getComputedStyle(s).color)[0], { timeout: 10000 }, marker);
  assert.equal(await colour.jsonValue(), "rgb(170, 170, 0)", "a Warn line is shown in its colour");
  await shot("log");

  await tab("screen");
  await page.waitForFunction(() => document.querySelector("#screen-image").naturalWidth > 0, { timeout: 10000 });
  const size = await page.$eval("#screen-image", (image) => [image.naturalWidth, image.naturalHeight]);
  assert.deepEqual(size, [800, 480]);
  await shot("screen");

  await tab("device");
  const table = randomBytes(3000), tablePath = `${BROWSER_HOME}/console-test.tab`;
  writeFileSync(tablePath, table);
  await (await page.waitForSelector("#lenstables-file")).uploadFile(tablePath);
  await page.click("#lenstables-upload");
  const link = await page.waitForSelector('#folder-lenstables a[download="console-test.tab"]', { timeout: 10000 });
  const downloaded = await link.evaluate(async (a) => [...new Uint8Array(await (await fetch(a.href)).arrayBuffer())]);
  assert.deepEqual(Buffer.from(downloaded), table, "the downloaded lens table equals the uploaded one");
  await shot("device");

  await tab("update");
  const updatePath = `${BROWSER_HOME}/accessory.cmf`;
  writeFileSync(updatePath, randomBytes(200000));
  await page.type("#update-target", "Accessory-7");
  await (await page.$("#update-file")).uploadFile(updatePath);
  await page.click("#update-start");
  await page.waitForFunction(() => document.querySelector("#update-state").textContent === "Success",
    { timeout: 30000 });
  assert.equal(await page.$eval("#update-upload", (bar) => bar.value), 100, "the upload's progress is complete");
  assert.equal(await page.$eval("#update-progress", (bar) => bar.value), 100);
  await shot("update");

  await tab("variables");
  await page.setViewport({ width: 1600, height: 1000 });
  await page.type("#filter", "brightness");
  await page.waitForFunction(() => document.querySelectorAll("tr.var:not([hidden])").length < 933);
  await shot("variables-desktop-filtered");
  assert.deepEqual(errors, [], "no errors in the page's console");
} catch (error) {
  await shot("failure");
  throw error;
} finally {
  await browser.close();
}

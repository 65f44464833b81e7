// The API document against the OpenAPI 3.1 schema; a corrupted copy must be refused.
//   node check_document.mjs DOCUMENT
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import { Validator } from "@seriousme/openapi-schema-validator";
import { boundsText, describe, typeText } from "../../www/js/apischema.js";

const document = JSON.parse(readFileSync(process.argv[2], "utf8"));
const validate = async (candidate) => new Validator().validate(structuredClone(candidate));

test("the document is valid OpenAPI 3.1, and a corrupted one is not", async () => {
  assert.equal(document.openapi, "3.1.0");
  const result = await validate(document);
  assert.equal(result.valid, true, JSON.stringify(result.errors, null, 1));

  const withoutDescription = structuredClone(document);
  delete withoutDescription.paths["/api/v1/all.cgi"].get.responses["200"].description;
  assert.equal((await validate(withoutDescription)).valid, false, "an answer without its description");
  const badParameter = structuredClone(document);
  badParameter.paths["/api/v1/update.cgi"].get.parameters[0].in = "body";
  assert.equal((await validate(badParameter)).valid, false, "a parameter in no valid place");
});

test("every variable of the catalogue has its schema", () => {
  const memories = Object.keys(document.components.schemas).filter((name) => name.startsWith("memory."));
  assert.equal(memories.length, 20);
  const rows = memories.reduce((sum, name) => sum + Object.keys(document.components.schemas[name].properties).length, 0);
  assert.equal(rows, 933);
  const whole = document.components.schemas.AllDocument.properties.variables.properties;
  for (const name of memories)
    assert.deepEqual(whole[name.slice("memory.".length)].required,
      Object.keys(document.components.schemas[name].properties), `${name}: the whole state holds every variable`);
});

test("the API page reads type, bounds, entries, fields and elements from the document", () => {
  const schemas = document.components.schemas;
  const row = (memory, name) => describe(schemas, schemas[`memory.${memory}`].properties[name]);
  const torque = row("MemPersistent", "AUXTorque");
  assert.deepEqual([typeText(torque), boundsText(torque)], ["int", "1 … 4"]);
  assert.equal(boundsText(row("MemStatic", "ModemVersionString")), "50 characters");
  assert.deepEqual([row("MemGuiLocal", "UserButtonsFlags").type, boundsText(row("MemGuiLocal", "UserButtonsFlags"))],
    ["buffer", "7 bytes"]);
  assert.deepEqual(row("MemApp", "AppServiceLogLevel").entries,
    ["DebugAll", "DebugMost", "DebugLight", "LogAll", "LogMost", "LogLight", "Warn", "Error"]);
  const motor = row("MemMotors", "FocusMotor");
  assert.equal(motor.fields.length, 29);
  assert.deepEqual(motor.fields.find((f) => f.field === "State").entries.slice(0, 2), ["Unknown", "Present"]);
  assert.equal(boundsText(motor.fields.find((f) => f.field === "GearTeethAct")), "0 … 255");
  assert.equal(typeText(row("MemCamera", "CamSpeedList")), "CamSpeedListStruct[120]");
  const lens = row("MemLens", "LensTableFocusMeter");
  assert.equal(typeText(lens.fields.find((f) => f.field === "LensTableValueList")), "ScaleValues[256]");
});

// The update pane: one update file for the unit or an accessory, chosen from the devices the unit lists
// or typed, uploaded with its progress, then the unit's update status followed to its end.
import { delay, el, fetchJson } from "./api.js";

const FINAL = ["Success", "Failed", "FileNotFound", "FileCorrupt", "FileNotCompatible", "CopyingFailed",
  "RebootFailed", "DeviceNotFound"];
const $ = (id) => document.getElementById(id);

export function setUpUpdate() {
  $("update-form").addEventListener("submit", (event) => {
    event.preventDefault();
    // The typed ID's choice has the empty value.
    const chosen = $("update-form").elements["update-target"].value || $("update-other-id").value.trim();
    runUpdate(chosen, $("update-file").files[0]);
  });
  $("update-other-id").addEventListener("input", () => {
    $("update-other").checked = true;
    requireTypedId();
  });
  $("update-targets").addEventListener("change", requireTypedId);
  $("update-relist").addEventListener("click", listTargets);
  listTargets();
}

// The typed ID is asked for only while it is the chosen target.
function requireTypedId() {
  $("update-other-id").required = $("update-other").checked;
}

// The unit and each connected accessory, from the unit's device document; the unit is chosen first, a
// choice already made stays when the list is read again.
async function listTargets() {
  const list = $("update-devices");
  const before = list.querySelector("input:checked")?.value;
  list.replaceChildren(el("p", {}, "Reading the unit's devices …"));
  try {
    const info = await fetchJson("/qorapp/v2/device/info");
    list.replaceChildren(choice(info._id, info.name ? `This unit: ${info.name}` : "This unit", info._id),
      ...info.devices.map((device) => choice(device._id, device.name || "Accessory",
        device.firmwareversion ? `${device._id}, firmware ${device.firmwareversion}` : device._id)));
    const keep = [...list.querySelectorAll("input")].find((radio) => radio.value === before);
    if (!$("update-other").checked) (keep ?? list.querySelector("input")).checked = true;
  } catch (error) {
    list.replaceChildren(el("p", { className: "error" }, `The unit's devices are unreadable (${error.message})`));
    $("update-other").checked = true;
  }
  requireTypedId();
}

function choice(id, title, detail) {
  const radio = el("input", { type: "radio", name: "update-target", value: id });
  return el("label", { className: "choice" }, radio, el("span", {}, title, el("small", {}, detail)));
}

async function runUpdate(deviceId, file) {
  $("update-start").disabled = $("update-targets").disabled = true;
  $("update-upload").value = 0;
  $("update-progress").value = 0;
  try {
    const answer = await upload(deviceId, file);
    if (answer.taskid === undefined) throw new Error(answer.result ?? "The unit refused the file");
    await followStatus();
  } catch (error) {
    $("update-state").textContent = error.message;
  } finally {
    $("update-start").disabled = $("update-targets").disabled = false;
  }
}

function upload(deviceId, file) {
  const form = new FormData();
  form.append("deviceid", deviceId);
  form.append("file", file);
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open("POST", "/qorapp/v1/device/update");
    request.upload.addEventListener("progress", (event) => {
      if (event.lengthComputable) $("update-upload").value = (100 * event.loaded) / event.total;
    });
    request.addEventListener("load", () => {
      $("update-upload").value = 100;
      try {
        resolve(JSON.parse(request.responseText));
      } catch {
        reject(new Error(`Upload answered HTTP ${request.status}`));
      }
    });
    request.addEventListener("error", () => reject(new Error("Upload failed")));
    $("update-state").textContent = "Uploading";
    request.send(form);
  });
}

// The unit starts a checked file only once a status request has seen it valid; so the polling goes on.
async function followStatus() {
  for (;;) {
    try {
      const { status, progress } = await fetchJson("/qorapp/v1/device/status");
      $("update-state").textContent = status;
      $("update-progress").value = status === "Success" ? 100 : progress;
      if (FINAL.includes(status)) return;
    } catch {
      $("update-state").textContent = "The unit does not answer (restarting?)";
    }
    await delay(500);
  }
}

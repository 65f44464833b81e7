// The update pane: one update file for the unit or an accessory, uploaded with its progress, then the
// unit's update status followed to its end.
import { delay, fetchJson } from "./api.js";

const FINAL = ["Success", "Failed", "FileNotFound", "FileCorrupt", "FileNotCompatible", "CopyingFailed",
  "RebootFailed", "DeviceNotFound"];
const $ = (id) => document.getElementById(id);

export function setUpUpdate() {
  $("update-form").addEventListener("submit", (event) => {
    event.preventDefault();
    runUpdate($("update-target").value.trim(), $("update-file").files[0]);
  });
}

async function runUpdate(deviceId, file) {
  $("update-start").disabled = true;
  $("update-upload").value = 0;
  $("update-progress").value = 0;
  try {
    const answer = await upload(deviceId, file);
    if (answer.taskid === undefined) throw new Error(answer.result ?? "The unit refused the file");
    await followStatus();
  } catch (error) {
    $("update-state").textContent = error.message;
  } finally {
    $("update-start").disabled = false;
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

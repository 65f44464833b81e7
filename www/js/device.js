// The device pane: the unit's identity and free space, and its lens tables, focus rings and setups.
import { el, fetchJson, showStatus } from "./api.js";

const FOLDERS = [
  ["lenstables", "Lens tables"],
  ["focusrings", "Focus rings"],
  ["setups", "Setups"],
];

export async function loadDevice() {
  const list = document.getElementById("device-info");
  try {
    const info = await fetchJson("/qorapp/v2/device/info");
    const space = `${megabytes(info.space_available)} of ${megabytes(info.space_total)} free`;
    const facts = [["ID", info._id], ["Name", info.name], ["Serial number", info.serialnumber],
      ["Firmware", info.firmwareversion], ["Storage", space]];
    list.replaceChildren(...facts.flatMap(([term, value]) => [el("dt", {}, term), el("dd", {}, String(value))]));
    const accessories = info.devices.map((device) =>
      el("li", {}, `${device.name} ${device.serialnumber}, firmware ${device.firmwareversion}`));
    document.getElementById("device-accessories").replaceChildren(...accessories);
    if (!accessories.length) document.getElementById("device-accessories").append(el("li", {}, "none connected"));
  } catch (error) {
    list.replaceChildren(el("dd", { className: "error" }, `Device information unreadable: ${error.message}`));
  }
  document.getElementById("folders").replaceChildren(...FOLDERS.map(([kind, title]) => makeFolder(kind, title)));
}

const megabytes = (bytes) => `${(bytes / 1048576).toFixed(0)} MB`;

function makeFolder(kind, title) {
  const tree = el("ul", { className: "tree" });
  const file = el("input", { type: "file", id: `${kind}-file` });
  file.setAttribute("aria-label", `${title}: file to upload`);
  const send = el("button", { type: "button", id: `${kind}-upload` }, "Upload");
  const section = el("section", { className: "folder", id: `folder-${kind}` }, el("h2", {}, title),
    el("div", { className: "toolbar" }, file, send), tree);
  const refresh = () => listFolder(kind, tree, refresh);
  send.addEventListener("click", async () => {
    if (!file.files[0]) return file.focus();
    await act(kind, file.files[0].name, { method: "PUT", body: file.files[0] });
    refresh();
  });
  refresh();
  return section;
}

async function listFolder(kind, tree, refresh) {
  try {
    const root = await fetchJson(`/qorapp/v2/${kind}/list`);
    tree.replaceChildren(...root.content.map((entry) => makeEntry(kind, entry, "", refresh)));
    if (!root.content.length) tree.append(el("li", { className: "empty" }, "(empty)"));
  } catch (error) {
    tree.replaceChildren(el("li", { className: "error" }, `Not listed: ${error.message}`));
  }
}

function makeEntry(kind, entry, folder, refresh) {
  const path = folder + entry.name;
  if (entry.content)
    return el("li", {}, `${entry.name}/`,
      el("ul", {}, ...entry.content.map((child) => makeEntry(kind, child, `${path}/`, refresh))));
  const remove = el("button", { type: "button" }, "Delete");
  remove.addEventListener("click", async () => {
    if (!confirm(`Delete ${path}?`)) return;
    await act(kind, path, { method: "DELETE" });
    refresh();
  });
  return el("li", {}, el("span", { className: "file" }, entry.name), " ",
    el("a", { href: fileUrl(kind, path), download: entry.name }, "Download"), " ", remove);
}

// Each folder name in the path is escaped on its own; the slashes between them stay.
const fileUrl = (kind, path) => `/qorapp/v1/${kind}/file/${path.split("/").map(encodeURIComponent).join("/")}`;

async function act(kind, path, options) {
  try {
    const answer = await fetchJson(fileUrl(kind, path), options);
    if (answer.result !== "Success") throw new Error(answer.result);
    showStatus(`${path}: done`);
  } catch (error) {
    showStatus(`${path}: ${error.message}`, true);
  }
}

// The page as an installed web app: over http(s) its manifest and the
// service worker that keeps its files, so that it opens with no network.
// Over http(s) the page can be installed and opened offline: its manifest
// (added here, since a page opened from disk may not read it) and the
// worker that keeps its files; an installed page opens score files.
export function offerInstall(loadFile) {
  if (!/^https?:$/.test(location.protocol)) return;
  const manifest = document.createElement("link");
  manifest.rel = "manifest";
  manifest.href = "manifest.webmanifest";
  document.head.append(manifest);
  if ("serviceWorker" in navigator) navigator.serviceWorker.register("service-worker.js").catch(() => {});
  if ("launchQueue" in window) {
    window.launchQueue.setConsumer(async (launch) => {
      if (launch.files && launch.files.length > 0) loadFile(await launch.files[0].getFile());
    });
  }
}


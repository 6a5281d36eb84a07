.pragma library

// Builds the links and rich texts that point at the Quillora web site.

function escapeHtml(text) {
    return String(text === undefined || text === null ? "" : text)
        .replace(/&/g, "&amp;")
        .replace(/</g, "&lt;")
        .replace(/>/g, "&gt;")
        .replace(/"/g, "&quot;")
}

// The page on which a live stream's presentation is edited while it runs.
function liveEditUrl(siteUrl, presentationId) {
    return siteUrl + "/" + encodeURIComponent(String(presentationId).trim()) + "/-/edit/live"
}

// color: the link's colour; the default link colour is unreadable on the dark screens.
function link(url, text, color) {
    var label = escapeHtml(text)
    if (color)
        label = "<span style=\"color:" + color + "\">" + label + "</span>"
    return "<a href=\"" + escapeHtml(url) + "\">" + label + "</a>"
}

// "1920x1080, 1280x1024" from the list of {width, height} maps a slide source reports.
function resolutionsText(resolutions) {
    var parts = []
    if (resolutions) {
        for (var i = 0; i < resolutions.length; ++i)
            parts.push(resolutions[i].width + "x" + resolutions[i].height)
    }
    return parts.join(", ")
}

// A local directory as a file URL, for both "C:/..." and "/home/..." paths. Each part of the path
// is percent-encoded: a "#", "?" or "%" in a folder's name would otherwise end the path or change
// it.
function directoryUrl(directory) {
    var parts = String(directory).replace(/^\/+/, "").split("/")
    for (var i = 0; i < parts.length; ++i) {
        // The drive of a Windows path stays as it is.
        if (i > 0 || !/^[A-Za-z]:$/.test(parts[i]))
            parts[i] = encodeURIComponent(parts[i])
    }
    return "file:///" + parts.join("/")
}

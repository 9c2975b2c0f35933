// "Your games": the games the server keeps, to filter, continue or download,
// the player's rating with its history as a graph, and whom to play next.
import * as api from "./api.js"
import {showReview} from "./review_view.js"
import {element as make} from "./dom.js"

// The parent first: most of this view's elements are text in a row or a cell.
const element = (tag, parent, text, className) => make(tag, className, parent, text)

const SVG = "http://www.w3.org/2000/svg"
function svgElement(tag, parent, attributes, text) {
    const e = document.createElementNS(SVG, tag)
    for (const [name, value] of Object.entries(attributes)) e.setAttribute(name, value)
    if (text !== undefined) e.textContent = text
    parent.append(e)
    return e
}

// The rating after each counted game: the line, its 95 % band, the scale at
// whole hundreds. A bound (every game won or lost) is drawn dashed.
export function ratingGraph(history) {
    const width = 600, height = 180, left = 44, right = 10, top = 10, bottom = 24
    const svg = document.createElementNS(SVG, "svg")
    svg.setAttribute("viewBox", `0 0 ${width} ${height}`)
    svg.setAttribute("role", "img")
    svg.setAttribute("aria-label", "your rating after each counted game")
    if (!history.length) return svg
    const low = Math.floor(Math.min(...history.map(p => p.low)) / 100) * 100
    const high = Math.max(low + 100, Math.ceil(Math.max(...history.map(p => p.high)) / 100) * 100)
    const x = i => left + (history.length === 1 ? (width - left - right) / 2 : i * (width - left - right) / (history.length - 1))
    const y = r => top + (high - r) * (height - top - bottom) / (high - low)
    const step = high - low > 800 ? 200 : 100
    for (let r = low; r <= high; r += step) {
        svgElement("line", svg, {x1: left, x2: width - right, y1: y(r), y2: y(r), class: "yg-grid"})
        svgElement("text", svg, {x: left - 4, y: y(r) + 4, "text-anchor": "end", class: "yg-label"}, String(r))
    }
    const band = history.map((p, i) => `${x(i)},${y(p.high)}`)
        .concat(history.map((p, i) => `${x(i)},${y(p.low)}`).reverse())
    svgElement("polygon", svg, {points: band.join(" "), class: "yg-band"})
    svgElement("polyline", svg, {points: history.map((p, i) => `${x(i)},${y(p.rating)}`).join(" "), class: "yg-line"})
    history.forEach((p, i) => {
        const dot = svgElement("circle", svg, {cx: x(i), cy: y(p.rating), r: 3.5, class: p.bound ? "yg-bound" : "yg-dot"})
        svgElement("title", dot, {}, `${p.date}, after game ${p.game}: ${p.bound > 0 ? "≥ " : p.bound < 0 ? "≤ " : ""}` +
            `${p.rating}${p.bound ? "" : ` (${p.low} to ${p.high})`}`)
    })
    svgElement("text", svg, {x: left, y: height - 6, class: "yg-label"}, history[0].date)
    svgElement("text", svg, {x: width - right, y: height - 6, "text-anchor": "end", class: "yg-label"},
               `${history.length} counted game${history.length === 1 ? "" : "s"}`)
    return svg
}

function resultWords(g) {
    if (g.result === null) return g.ended ? "left unfinished" : "unfinished"
    const mine = g.points === 1 ? "won" : g.points === 0 ? "lost" : g.points === 0.5 ? "drawn" : g.result
    return `${mine} (${g.termination})`
}

let section = null

function build(actions) {
    section = element("section")
    section.id = "your-games"
    section.hidden = true
    element("h2", section, "Your games")
    element("p", section, "", "yg-rating")
    element("div", section, "", "yg-graph")
    const suggestion = element("p", section, "", "yg-suggestion")
    const play = element("button", null, "Play it", "yg-play")
    play.hidden = true
    suggestion.after(play)
    const filters = element("form", section, undefined, "yg-filters")
    const persona = element("select", element("label", filters, "Opponent "))
    persona.name = "persona"
    const result = element("select", element("label", filters, "Result "))
    result.name = "result"
    for (const [value, label] of [["", "any"], ["won", "won"], ["lost", "lost"], ["drawn", "drawn"],
                                  ["unfinished", "unfinished"]])
        element("option", result, label).value = value
    const table = element("table", section, undefined, "yg-list")
    const head = element("tr", element("thead", table))
    for (const label of ["Game", "Date (UTC)", "Opponent", "You", "Result", "Moves", ""]) element("th", head, label)
    element("tbody", table)
    element("p", section, "", "yg-note")
    filters.addEventListener("change", () => refresh(actions))
    play.addEventListener("click", () => actions.onPlay(play.dataset.persona))
    document.querySelector("main").after(section)
}

function row(g, body, actions) {
    const tr = element("tr", body)
    tr.dataset.game = g.id
    element("td", tr, String(g.id))
    element("td", tr, g.started.slice(0, 16))
    element("td", tr, g.persona || "—")  // its roster figure is not the measured scale
    element("td", tr, g.color || "—")
    element("td", tr, resultWords(g))
    element("td", tr, String(Math.ceil(g.plies / 2)))
    const cell = element("td", tr)
    if (!g.ended && g.color) {
        const go = element("button", cell, g.live ? "Back to it" : "Continue", "yg-continue")
        go.addEventListener("click", () => actions.onContinue(g.id))
    }
    if (g.plies > 0) {
        const review = element("button", cell, "Review", "yg-review")
        review.addEventListener("click", async () => {
            try {
                showReview(await api.reviewSaved(g.id), g.color || "white", () => api.reviewSaved(g.id))
                document.getElementById("review-view").scrollIntoView({block: "start"})
            } catch (error) {
                section.querySelector(".yg-note").textContent = `No review: ${error.message}`
            }
        })
    }
    const pgn = element("a", cell, "PGN", "button")
    pgn.href = api.savedPgnUrl(g.id)
    pgn.download = `game-${g.id}.pgn`
}

async function refresh(actions) {
    const note = section.querySelector(".yg-note")
    const form = section.querySelector(".yg-filters")
    const filter = {persona: form.persona.value, result: form.result.value}
    const body = section.querySelector("tbody")
    try {
        const [list, rating] = await Promise.all([api.savedGames(filter), api.rating()])
        body.replaceChildren()
        for (const g of list.games) row(g, body, actions)
        note.textContent = list.games.length ? "" : "No games yet: the games you play here are kept."
        section.querySelector(".yg-rating").textContent = rating.text
        section.querySelector(".yg-graph").replaceChildren(...(rating.history.length ? [ratingGraph(rating.history)] : []))
        const play = section.querySelector(".yg-play")
        section.querySelector(".yg-suggestion").textContent = rating.suggestion ? rating.suggestion.text : ""
        play.hidden = !rating.suggestion
        if (rating.suggestion) play.dataset.persona = rating.suggestion.persona
        const personas = new Set(list.games.map(g => g.persona).filter(Boolean))
        if (!filter.persona) {
            form.persona.replaceChildren()
            element("option", form.persona, "any").value = ""
            for (const name of [...personas].sort()) element("option", form.persona, name).value = name
        }
    } catch (error) {
        body.replaceChildren()
        note.textContent = error.message
    }
}

// Shows or hides the view; `actions.onContinue(id)` plays a stored game on,
// `actions.onPlay(persona)` picks the suggested opponent.
export async function toggleYourGames(actions) {
    if (!section) build(actions)
    section.hidden = !section.hidden
    if (!section.hidden) {
        await refresh(actions)
        section.scrollIntoView({block: "nearest"})
    }
    return !section.hidden
}

export function hideYourGames() { if (section) section.hidden = true }

// The suggested opponent, for the picker; none without kept games.
export async function suggestedPersona() {
    try {
        const rating = await api.rating()
        return rating.suggestion ? rating.suggestion.persona : null
    } catch (error) {
        return null
    }
}
